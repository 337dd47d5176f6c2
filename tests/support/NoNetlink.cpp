// A preload library for tests: socket(AF_NETLINK, ...) fails with EAFNOSUPPORT, as it does
// in a sandbox or under a seccomp profile that refuses netlink, so that no udev monitor can
// be set up. Every other socket is made as usual. It goes first in LD_PRELOAD (before
// umockdev's library, which would otherwise answer netlink sockets itself).
#include <dlfcn.h>
#include <sys/socket.h>

#include <cerrno>

extern "C" int socket(int domain, int type, int protocol) {
    if (domain == AF_NETLINK) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    using Socket = int (*)(int, int, int);
    static const Socket next = reinterpret_cast<Socket>(::dlsym(RTLD_NEXT, "socket"));
    if (next == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return next(domain, type, protocol);
}
