#include <cstdio>
int main() { std::puts("cadenzor"); return 0; }
