#pragma once

#include "Arena.h"

namespace qiv::redact {

/// Makes pugixml take its memory through the tool's own functions for the
/// rest of the process. They hand out what the general allocator does unless
/// a ParseInto is alive on the calling thread, and free each block where it
/// came from. To be called once, before any other thread starts; without it a
/// ParseInto has no effect.
void RouteParseMemory();

/// While it lives, what pugixml allocates on this thread comes from arena
/// (from the general allocator once the arena has no room). Every block of a
/// document parsed meanwhile must be freed before the arena is destroyed.
class ParseInto {
public:
    explicit ParseInto(ParseArena& arena);
    ~ParseInto();
    ParseInto(const ParseInto&) = delete;
    ParseInto& operator=(const ParseInto&) = delete;

private:
    ParseArena* previous_;
};

}  // namespace qiv::redact
