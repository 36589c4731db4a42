#include "main/process.h"

namespace kavo {

ProcessState& Process() {
    static ProcessState state;
    return state;
}

}  // namespace kavo
