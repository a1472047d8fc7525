#include <cstdio>

int main()
{
    std::fputs("Korvane: no screens are built yet; this build holds the service client and stores only.\n", stdout);
    return 0;
}
