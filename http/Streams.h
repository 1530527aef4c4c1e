// The streams that receive a response body: in memory for short replies, a file for downloads.
// Bodies are written as they arrive at the stream's current position; the client cuts a stream
// back when a relocation makes the body received so far worthless.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace gx {

class Stream {
  public:
    virtual ~Stream() = default;
    virtual std::int64_t Size() const = 0;
    virtual std::int64_t Position() const = 0;
    virtual bool Seek(std::int64_t position) = 0;
    // Writes at the current position and moves past what was written; false when not all of it
    // could be written.
    virtual bool Write(const char* data, std::size_t length) = 0;
    // Cuts the stream (or extends it) to size; the position moves to the new end when beyond it.
    virtual bool SetSize(std::int64_t size) = 0;
};

class MemoryStream final : public Stream {
  public:
    std::int64_t Size() const override { return static_cast<std::int64_t>(fData.size()); }
    std::int64_t Position() const override { return fPosition; }
    bool Seek(std::int64_t position) override;
    bool Write(const char* data, std::size_t length) override;
    bool SetSize(std::int64_t size) override;

    const std::string& Data() const { return fData; }
    void Clear();

  private:
    std::string fData;
    std::int64_t fPosition = 0;
};

class FileStream final : public Stream {
  public:
    // Creates (or empties) the file and opens it for writing; null when that fails.
    static std::unique_ptr<FileStream> Create(const std::string& path);
    // Creates a file that must not exist yet (a link in its place is not followed), readable and
    // writable by its owner only, and opens it for writing; null when that fails.
    static std::unique_ptr<FileStream> CreateNew(const std::string& path);
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    std::int64_t Size() const override;
    std::int64_t Position() const override { return fPosition; }
    bool Seek(std::int64_t position) override;
    bool Write(const char* data, std::size_t length) override;
    bool SetSize(std::int64_t size) override;

  private:
    explicit FileStream(int fd) : fFd(fd) {}
    int fFd;
    std::int64_t fPosition = 0;
};

}  // namespace gx
