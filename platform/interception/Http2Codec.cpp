#include "platform/interception/Http2Codec.h"

#include <nghttp2/nghttp2.h>

#include <algorithm>
#include <cstring>

namespace gx::interception {

// The library's callbacks, which see the codec's private parts.
struct Http2CodecCallbacks {
    static Http2Codec& Of(void* user) { return *static_cast<Http2Codec*>(user); }

    static int BeginHeaders(nghttp2_session*, const nghttp2_frame* frame, void* user) {
        if (frame->hd.type == NGHTTP2_HEADERS && frame->headers.cat == NGHTTP2_HCAT_REQUEST) {
            Of(user).streams_[frame->hd.stream_id] = Http2Codec::Stream{};
        }
        if (Http2Codec::Stream* s = Of(user).Find(frame->hd.stream_id)) {
            s->headerBytes = 0;  // each header list is bounded on its own
        }
        return 0;
    }

    static int Header(nghttp2_session* session, const nghttp2_frame* frame, const uint8_t* name,
                      size_t nameLength, const uint8_t* value, size_t valueLength, uint8_t,
                      void* user) {
        Http2Codec& codec = Of(user);
        Http2Codec::Stream* s = codec.Find(frame->hd.stream_id);
        if (!s || s->refused) {
            return 0;
        }
        s->headerBytes += nameLength + valueLength + 32;
        if (s->headerBytes > kMaxHeaderList) {
            // Counted as it is decompressed: what is past the bound is never kept.
            s->refused = true;
            s->received.clear();
            s->received.shrink_to_fit();
            nghttp2_submit_rst_stream(session, NGHTTP2_FLAG_NONE, frame->hd.stream_id,
                                      NGHTTP2_ENHANCE_YOUR_CALM);
            return 0;
        }
        s->received.emplace_back(std::string(reinterpret_cast<const char*>(name), nameLength),
                                 std::string(reinterpret_cast<const char*>(value), valueLength));
        return 0;
    }

    static int FrameReceived(nghttp2_session* session, const nghttp2_frame* frame, void* user) {
        Http2Codec& codec = Of(user);
        const int32_t id = frame->hd.stream_id;
        if (frame->hd.type == NGHTTP2_GOAWAY) {
            codec.goneAway_ = true;
        }
        if (frame->hd.type == NGHTTP2_RST_STREAM && !codec.TakeResetToken()) {
            codec.failed_ = true;
            nghttp2_session_terminate_session(session, NGHTTP2_ENHANCE_YOUR_CALM);
            return 0;
        }
        const bool endStream = (frame->hd.flags & NGHTTP2_FLAG_END_STREAM) != 0;
        Http2Codec::Stream* s = codec.Find(id);
        if (!s || s->refused) {
            return 0;
        }
        if (frame->hd.type == NGHTTP2_HEADERS) {
            Http2Fields fields = std::move(s->received);
            s->received.clear();
            const bool head = !fields.empty() && (fields.front().first == ":method" ||
                                                  fields.front().first == ":status" ||
                                                  frame->headers.cat == NGHTTP2_HCAT_REQUEST);
            if (head && !fields.empty() && fields.front().first == ":status" &&
                fields.front().second.size() == 3 && fields.front().second[0] == '1') {
                return 0;  // an interim response: the final one follows
            }
            if (head) {
                codec.events_.OnHead(id, std::move(fields), endStream);
                s = codec.Find(id);  // the caller may have answered and ended it already
                if (s && endStream) {
                    codec.events_.OnEnd(id, {});
                }
            } else if (endStream) {
                codec.events_.OnEnd(id, std::move(fields));  // trailer fields
            }
        } else if (endStream && frame->hd.type == NGHTTP2_DATA) {
            codec.events_.OnEnd(id, {});
        }
        return 0;
    }

    static int DataChunk(nghttp2_session* session, uint8_t, int32_t stream, const uint8_t* data,
                         size_t length, void* user) {
        Http2Codec& codec = Of(user);
        Http2Codec::Stream* s = codec.Find(stream);
        if (!s || s->refused) {
            nghttp2_session_consume(session, stream, length);  // nobody takes them
            return 0;
        }
        codec.events_.OnData(stream, reinterpret_cast<const char*>(data), length);
        return 0;
    }

    static int StreamClosed(nghttp2_session*, int32_t stream, uint32_t code, void* user) {
        Http2Codec& codec = Of(user);
        if (codec.streams_.erase(stream) != 0) {
            codec.events_.OnStreamClosed(stream, code);
        }
        return 0;
    }

    static ssize_t ReadBody(nghttp2_session* session, int32_t stream, uint8_t* buffer,
                            size_t length, uint32_t* flags, nghttp2_data_source*, void* user) {
        Http2Codec& codec = Of(user);
        Http2Codec::Stream* s = codec.Find(stream);
        if (!s) {
            return NGHTTP2_ERR_TEMPORAL_CALLBACK_FAILURE;
        }
        const size_t n = std::min(length, s->body.size());
        std::memcpy(buffer, s->body.data(), n);
        s->body.erase(0, n);
        if (s->body.empty() && s->bodyEnded) {
            *flags |= NGHTTP2_DATA_FLAG_EOF;
            if (!s->trailers.empty()) {
                std::vector<nghttp2_nv> nva = Fields(s->trailers);
                *flags |= NGHTTP2_DATA_FLAG_NO_END_STREAM;
                nghttp2_submit_trailer(session, stream, nva.data(), nva.size());
            }
        } else if (n == 0) {
            s->deferred = true;
            return NGHTTP2_ERR_DEFERRED;
        }
        return static_cast<ssize_t>(n);
    }

    static std::vector<nghttp2_nv> Fields(const Http2Fields& fields) {
        std::vector<nghttp2_nv> nva;
        nva.reserve(fields.size());
        for (const auto& [name, value] : fields) {
            nva.push_back({reinterpret_cast<uint8_t*>(const_cast<char*>(name.data())),
                           reinterpret_cast<uint8_t*>(const_cast<char*>(value.data())), name.size(),
                           value.size(), NGHTTP2_NV_FLAG_NONE});
        }
        return nva;
    }
};

Http2Codec::Http2Codec(Events& events, Role role, int32_t streamWindow)
    : events_(events), role_(role) {
    nghttp2_session_callbacks* callbacks = nullptr;
    nghttp2_session_callbacks_new(&callbacks);
    nghttp2_session_callbacks_set_on_begin_headers_callback(callbacks,
                                                            Http2CodecCallbacks::BeginHeaders);
    nghttp2_session_callbacks_set_on_header_callback(callbacks, Http2CodecCallbacks::Header);
    nghttp2_session_callbacks_set_on_frame_recv_callback(callbacks,
                                                         Http2CodecCallbacks::FrameReceived);
    nghttp2_session_callbacks_set_on_data_chunk_recv_callback(callbacks,
                                                              Http2CodecCallbacks::DataChunk);
    nghttp2_session_callbacks_set_on_stream_close_callback(callbacks,
                                                           Http2CodecCallbacks::StreamClosed);
    nghttp2_option* options = nullptr;
    nghttp2_option_new(&options);
    nghttp2_option_set_no_auto_window_update(options, 1);
    nghttp2_option_set_max_continuations(options, kMaxContinuations);
    nghttp2_option_set_stream_reset_rate_limit(options, kResetBurst, kResetRate);
    nghttp2_option_set_max_outbound_ack(options, 1000);
    nghttp2_option_set_max_settings(options, 32);
    if (role_ == Role::Server) {
        nghttp2_session_server_new2(&session_, callbacks, this, options);
    } else {
        nghttp2_session_client_new2(&session_, callbacks, this, options);
    }
    nghttp2_option_del(options);
    nghttp2_session_callbacks_del(callbacks);

    const nghttp2_settings_entry settings[] = {
        {role_ == Role::Server ? NGHTTP2_SETTINGS_MAX_CONCURRENT_STREAMS
                               : NGHTTP2_SETTINGS_ENABLE_PUSH,
         role_ == Role::Server ? kMaxStreams : 0},
        {NGHTTP2_SETTINGS_INITIAL_WINDOW_SIZE, static_cast<uint32_t>(streamWindow)},
        {NGHTTP2_SETTINGS_MAX_HEADER_LIST_SIZE, static_cast<uint32_t>(kMaxHeaderList)},
    };
    nghttp2_submit_settings(session_, NGHTTP2_FLAG_NONE, settings,
                            sizeof settings / sizeof settings[0]);
    nghttp2_session_set_local_window_size(session_, NGHTTP2_FLAG_NONE, 0, kConnectionWindow);
}

Http2Codec::~Http2Codec() {
    nghttp2_session_del(session_);
}

bool Http2Codec::Receive(const char* data, size_t n) {
    if (failed_) {
        return false;
    }
    receiving_ = true;
    const ssize_t used =
        nghttp2_session_mem_recv(session_, reinterpret_cast<const uint8_t*>(data), n);
    receiving_ = false;
    if (failed_) {
        return false;  // the library went on, but a bound was broken meanwhile
    }
    if (used < 0) {
        failed_ = true;
        if (used != NGHTTP2_ERR_BAD_CLIENT_MAGIC) {
            nghttp2_session_terminate_session(session_, NGHTTP2_PROTOCOL_ERROR);
        }
        return false;
    }
    return true;
}

std::string Http2Codec::TakeOutput() {
    std::string out;
    if (receiving_) {
        return out;  // taken once Receive returns
    }
    while (true) {
        const uint8_t* data = nullptr;
        const ssize_t n = nghttp2_session_mem_send(session_, &data);
        if (n <= 0) {
            if (n < 0) {
                failed_ = true;  // a flood of frames to acknowledge, or the library's own error
            }
            return out;
        }
        out.append(reinterpret_cast<const char*>(data), static_cast<size_t>(n));
    }
}

bool Http2Codec::Finished() const {
    return failed_ ||
           (nghttp2_session_want_read(session_) == 0 && nghttp2_session_want_write(session_) == 0);
}

bool Http2Codec::TakeResetToken() {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - resetClock_).count();
    resetClock_ = now;
    resetTokens_ = std::min<double>(kResetBurst, resetTokens_ + seconds * kResetRate);
    if (resetTokens_ < 1) {
        return false;
    }
    resetTokens_ -= 1;
    return true;
}

Http2Codec::Stream* Http2Codec::Find(int32_t stream) {
    auto found = streams_.find(stream);
    return found == streams_.end() ? nullptr : &found->second;
}

void Http2Codec::SubmitResponse(int32_t stream, int status, const Http2Fields& fields,
                                bool withBody) {
    if (!Find(stream)) {
        return;
    }
    Http2Fields all;
    all.reserve(fields.size() + 1);
    all.emplace_back(":status", std::to_string(status));
    all.insert(all.end(), fields.begin(), fields.end());
    std::vector<nghttp2_nv> nva = Http2CodecCallbacks::Fields(all);
    nghttp2_data_provider provider{};
    provider.read_callback = Http2CodecCallbacks::ReadBody;
    nghttp2_submit_response(session_, stream, nva.data(), nva.size(),
                            withBody ? &provider : nullptr);
}

int32_t Http2Codec::SubmitRequest(const Http2Fields& fields, bool withBody) {
    if (!CanOpenStream()) {
        return -1;
    }
    std::vector<nghttp2_nv> nva = Http2CodecCallbacks::Fields(fields);
    nghttp2_data_provider provider{};
    provider.read_callback = Http2CodecCallbacks::ReadBody;
    const int32_t stream = nghttp2_submit_request(session_, nullptr, nva.data(), nva.size(),
                                                  withBody ? &provider : nullptr, nullptr);
    if (stream > 0) {
        streams_[stream] = Stream{};
    }
    return stream > 0 ? stream : -1;
}

bool Http2Codec::CanOpenStream() const {
    if (failed_ || goneAway_ ||
        nghttp2_session_get_remote_settings(session_, NGHTTP2_SETTINGS_MAX_CONCURRENT_STREAMS) <=
            streams_.size()) {
        return false;
    }
    return !goneAway_;
}

void Http2Codec::Resume(int32_t stream, Stream& s) {
    if (s.deferred) {
        s.deferred = false;
        nghttp2_session_resume_data(session_, stream);
    }
}

void Http2Codec::AppendBody(int32_t stream, const char* data, size_t n) {
    if (Stream* s = Find(stream); s && !s->bodyEnded) {
        s->body.append(data, n);
        Resume(stream, *s);
    }
}

void Http2Codec::EndBody(int32_t stream, const Http2Fields& trailers) {
    if (Stream* s = Find(stream); s && !s->bodyEnded) {
        s->bodyEnded = true;
        s->trailers = trailers;
        Resume(stream, *s);
    }
}

void Http2Codec::ResetStream(int32_t stream, uint32_t errorCode) {
    nghttp2_submit_rst_stream(session_, NGHTTP2_FLAG_NONE, stream, errorCode);
}

void Http2Codec::GoAway() {
    nghttp2_session_terminate_session(session_, NGHTTP2_NO_ERROR);
}

void Http2Codec::Consumed(int32_t stream, size_t n) {
    nghttp2_session_consume(session_, stream, n);
}

size_t Http2Codec::Buffered(int32_t stream) const {
    auto found = streams_.find(stream);
    return found == streams_.end() ? 0 : found->second.body.size();
}

}  // namespace gx::interception
