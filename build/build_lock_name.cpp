#include "build/build_platform.h"

namespace kavo::build {

std::u16string BuildLockName(const std::u16string& database_folder) {
    std::u16string name = u"Global\\";
    for (char16_t c : database_folder) {
        name.push_back(c == u'\\' ? u'/' : c);
    }
    name += u"|KAVO_BUILD";
    return name;
}

}  // namespace kavo::build
