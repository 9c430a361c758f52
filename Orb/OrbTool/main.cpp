#include <cstdio>
int main() { std::puts("orbtool"); return 0; }
