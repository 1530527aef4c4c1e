// The product web site. Until the maker sets its real host, a reserved name that belongs to
// nobody. The shipped malware list holds its test page, so that a user can see a block safely.
#pragma once

namespace gx {

inline constexpr char kProductSiteHost[] = "www.gardalix.example";

// The test page address, in the form the engine rebuilds from a request (host then target).
inline constexpr char kTestPageAddress[] = "www.gardalix.example/test_malware/";

}  // namespace gx
