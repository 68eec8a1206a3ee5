// hub_race_swapper A B: exchanges the two names A and B (renameat2 with
// RENAME_EXCHANGE) over and over until it is killed, as someone racing a
// program that checks a name and then acts on it again.
#include <cstdio>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/syscall.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: hub_race_swapper A B\n", stderr);
        return 2;
    }
    for (;;)
        if (::syscall(SYS_renameat2, AT_FDCWD, argv[1], AT_FDCWD, argv[2], RENAME_EXCHANGE) != 0) {
            std::perror("renameat2");
            return 1;
        }
}
