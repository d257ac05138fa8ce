#include "start_data.hpp"

// Everything from here on is the runtime's: it reads no argument.
int main() { return mirtolk::rt::StartRuntime(mirtolk::ProgramStart); }
