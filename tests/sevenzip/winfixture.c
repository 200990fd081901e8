/* A small Windows program: gives the round trip a real x86-64 PE. */
#include <stdio.h>
#include <string.h>

static int table[64];

static int work(int n)
{
    int sum = 0;
    for (int i = 0; i < n; ++i) {
        table[i & 63] += i;
        sum += table[(i * 7) & 63];
    }
    return sum;
}

int main(int argc, char **argv)
{
    char buffer[256];
    snprintf(buffer, sizeof buffer, "%d %s", work(argc * 1000), argc > 1 ? argv[1] : "");
    puts(buffer);
    return (int)strlen(buffer) & 1;
}
