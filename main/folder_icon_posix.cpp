#include "main/program_home.h"

namespace kavo {

// Folders carry no icons natively.
void MarkDatabaseFolder(const std::u16string&) {}

}  // namespace kavo
