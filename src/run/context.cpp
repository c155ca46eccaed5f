#include "run/context.h"

namespace kelvara {

void RunContext::line(std::string_view text) {
    sink_.write(text);
    sink_.write("\n");
    sink_.lineEnded();
}

void RunContext::write(std::string_view text) { sink_.write(text); }

}  // namespace kelvara
