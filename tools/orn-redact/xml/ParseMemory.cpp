#include "ParseMemory.h"

#include <cstdlib>

#include <pugixml.hpp>

namespace qiv::redact {

namespace {

thread_local ParseArena* current = nullptr;

void* Allocate(std::size_t size) {
    if (current != nullptr) {
        if (void* block = current->Allocate(size)) {
            return block;
        }
    }
    return std::malloc(size);
}

void Deallocate(void* block) {
    if (ParseArena* arena = ParseArena::Containing(block)) {
        arena->Deallocate(block);
    } else {
        std::free(block);
    }
}

}  // namespace

void RouteParseMemory() { pugi::set_memory_management_functions(Allocate, Deallocate); }

ParseInto::ParseInto(ParseArena& arena) : previous_(current) { current = &arena; }

ParseInto::~ParseInto() { current = previous_; }

}  // namespace qiv::redact
