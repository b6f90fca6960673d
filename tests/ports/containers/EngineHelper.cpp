// Stands in for a container engine's helper (docker-proxy, conmon): started through a link of
// that name with that program's arguments, it holds the listening sockets it inherited, as those
// helpers do, until its standard input closes.
#include <unistd.h>

int main()
{
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}
