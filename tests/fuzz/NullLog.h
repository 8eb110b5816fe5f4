#pragma once

#include "platform/LogSink.h"

namespace corvex {

// The targets' log: the decoders write to it, nobody reads it.
class NullLog final : public LogSink {
public:
    void writeLine(std::string_view) override { }
};

} // namespace corvex
