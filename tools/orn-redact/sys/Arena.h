#pragma once

#include <cstddef>

namespace qiv::redact {

/// Memory for one parse tree, taken straight from the system and given back
/// all at once.
///
/// A large parse asks for hundreds of MiB in blocks of tens of KiB that all
/// live exactly as long as the document. From the general-purpose allocator
/// every new page is faulted in and cleared one 4 KiB page at a time, which
/// is most of the parse's time. The arena reserves address space on its first
/// allocation (sized from that first request, which for a parse is the
/// document's own bytes), makes it usable in steps as it fills, and asks for
/// huge pages where the kernel offers them. Blocks are handed out one after
/// the other; a freed block is not reused, but a large one gives its pages
/// back at once. Everything goes back to the system when the arena is
/// destroyed.
///
/// An arena that is Rewound and filled again (one per thread that parses
/// record batches) keeps its pages: the next batch's tree lands on memory
/// already faulted in.
///
/// Allocate may be called by one thread at a time; Deallocate and Containing
/// by any thread. An arena that cannot reserve its space (or one built with
/// AddressSanitizer, which must see every block on its own) returns null from
/// Allocate, and the caller takes the memory elsewhere.
class ParseArena {
public:
    /// Whether the arena is filled once (a whole document: large freed blocks
    /// give their pages back at once) or again and again (Rewind).
    enum class Use { Once, Again };

    explicit ParseArena(Use use = Use::Once) : reused_(use == Use::Again) {}
    ~ParseArena();
    ParseArena(const ParseArena&) = delete;
    ParseArena& operator=(const ParseArena&) = delete;

    /// size bytes aligned to 16, or null when the arena has no room left.
    void* Allocate(std::size_t size);
    /// Frees a block Allocate returned.
    void Deallocate(void* block);
    /// Hands the space out again from its start. Every block must have been
    /// freed. Pages beyond what an ordinary fill needs go back to the system,
    /// so that one huge batch does not hold its memory for the rest of a run.
    void Rewind();
    /// The live arena whose space holds address, or null.
    static ParseArena* Containing(const void* address);

    /// Bytes made usable so far (a multiple of the step), and bytes handed out.
    std::size_t Committed() const { return committed_; }
    std::size_t Used() const { return used_; }

private:
    bool Reserve(std::size_t first);
    bool Commit(std::size_t end);

    char* base_ = nullptr;  // the reserved space, aligned to a huge page
    char* mapping_ = nullptr;
    std::size_t mappingSize_ = 0;
    std::size_t reserved_ = 0;   // usable from base_
    std::size_t committed_ = 0;  // readable and writable from base_
    std::size_t used_ = 0;       // handed out from base_
    int slot_ = -1;              // where Containing finds it
    bool failed_ = false;        // no space: everything goes elsewhere
    bool reused_ = false;        // freed blocks keep their pages
};

}  // namespace qiv::redact
