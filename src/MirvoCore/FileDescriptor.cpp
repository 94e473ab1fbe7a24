#include "FileDescriptor.h"

#include "SystemError.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace mirvo {

void FileDescriptor::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

std::pair<FileDescriptor, FileDescriptor> FileDescriptor::pipe()
{
    int fds[2] = {-1, -1};
#ifdef __APPLE__
    // No pipe2 here: another thread may spawn between the two calls, which closing every inherited
    // descriptor in the child makes harmless for our own children.
    if (::pipe(fds) < 0)
        throw SystemError::fromErrno(errno);
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#else
    if (::pipe2(fds, O_CLOEXEC) < 0)
        throw SystemError::fromErrno(errno);
#endif
    return {FileDescriptor(fds[0]), FileDescriptor(fds[1])};
}

} // namespace mirvo
