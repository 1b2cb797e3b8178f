// Prints each argument after the program name as hex digits on its own line, so that any
// byte arrives intact through a text pipe.
#include <cstdio>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(argv[i]); *p; ++p) {
      std::printf("%02x", *p);
    }
    std::printf("\n");
  }
  return 0;
}
