#pragma once

#include <utility>

namespace mirvo {

// Owns one open file descriptor and closes it when dropped.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    FileDescriptor(FileDescriptor&& other) noexcept
        : m_fd(other.release())
    {
    }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }

    // Gives up ownership without closing.
    int release() { return std::exchange(m_fd, -1); }

    // Closes the descriptor held so far (a failure to close is ignored) and takes `fd`.
    void reset(int fd = -1);

    // A new pipe as its read and write ends, both close-on-exec. Throws SystemError.
    static std::pair<FileDescriptor, FileDescriptor> pipe();

private:
    int m_fd = -1;
};

} // namespace mirvo
