// Second process for the single-instance test: takes the name, prints "first" or
// "second", then holds the name until its standard input closes.
#include "app/SingleInstance.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    SingleInstance instance(QString::fromUtf8(argv[1]));
    std::printf("%s\n", instance.isFirst() ? "first" : "second");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
