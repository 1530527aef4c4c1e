// Registry access as the program's units use it: open one key (creating it and its parents),
// read or write one value, close the key again. A failing open simply answers false; a value
// that cannot be read or written raises ERegistryException with the French message that the
// console shows in its error box.
//
// Every name and text is Windows-1252. The root is always the machine-wide hive
// (HKEY_LOCAL_MACHINE) of this process, see HiveLocation.h.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/RegistryHive.h"

namespace gx {

// A registry failure; what() and Message() give the French text in Windows-1252.
class ERegistryException : public std::runtime_error {
  public:
    explicit ERegistryException(const std::string& cp1252Message)
        : std::runtime_error(cp1252Message) {}
    std::string Message() const { return what(); }
};

// The three French messages, with the value's name in place of %s.
std::string GetDataFailedMessage(std::string_view valueName);  // "Echec à l'obtention ..."
std::string WrongDataTypeMessage(std::string_view valueName);  // "Type de données incorrect ..."
std::string SetDataFailedMessage(std::string_view valueName);  // "Echec à la définition ..."

class Registry {
  public:
    // On the process hive.
    Registry();
    // On the given hive; null behaves as a hive that cannot be opened.
    explicit Registry(std::shared_ptr<RegistryHive> hive);

    // Opens the key at the path, creating it and its parents when canCreate is set. False when
    // the hive cannot be opened or the key cannot be opened or created.
    bool OpenKey(std::string_view keyPath, bool canCreate);
    void CloseKey() { key_.reset(); }
    bool HasCurrentKey() const { return key_.has_value(); }

    bool ValueExists(std::string_view name);
    // The 32-bit number; raises when the value is missing, its data is longer than 4 bytes or
    // it is not a number.
    int32_t ReadInteger(std::string_view name);
    void WriteInteger(std::string_view name, int32_t number);
    // The text; empty when the value is missing; raises when the value is not a text.
    std::string ReadString(std::string_view name);
    void WriteString(std::string_view name, std::string_view text);
    bool DeleteValue(std::string_view name);
    // The value names of the key in the order of their creation (empty without an open key).
    void GetValueNames(std::vector<std::string>& names);

  private:
    void Write(std::string_view name, const RegValue& value);

    std::shared_ptr<RegistryHive> hive_;
    std::optional<RegKeyId> key_;
};

}  // namespace gx
