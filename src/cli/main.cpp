#include <cstdio>

int main() {
  std::puts("quelvane-cli 1.0");
  return 0;
}
