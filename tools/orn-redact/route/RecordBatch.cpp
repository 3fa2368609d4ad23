#include "RecordBatch.h"

#include <algorithm>
#include <cstring>
#include <istream>

#include "InterfaceFactory.h"
#include "ParseFailure.h"
#include "ParseMemory.h"
#include "Seam.h"

namespace qiv::redact {

void RedactSlot(Slot& slot, const std::vector<std::string>& expressions,
                const RedactionSettings& settings, bool audit) {
    try {
        slot.result = Slot::Result::Ok;
        slot.parse = slot.redact = slot.splice = 0;
        Clock::time_point start = Clock::now();
        const std::string_view content = slot.Content();
        if (const void* nul = std::memchr(content.data(), 0, content.size())) {
            slot.result = Slot::Result::Nul;
            slot.at = slot.prefix +
                      static_cast<std::size_t>(static_cast<const char*>(nul) - content.data());
            return;
        }
        if (!slot.parser) {
            slot.parser = InterfaceFactory::Create<DataParserIF>("XML");
        }
        // What pugixml allocates for this batch (its copy of the text, the
        // tree, the selections, new values) comes from this thread's arena,
        // whose pages the batches before have faulted in already: the tree
        // lives only while its batch is on the thread.
        thread_local ParseArena arena(ParseArena::Use::Again);
        arena.Rewind();
        const ParseInto into(arena);
        TextBuffer buffer(slot.text);
        std::istream stream(&buffer);
        slot.load = slot.parser->LoadStream(stream);
        Lap(start, slot.parse);
        if (slot.load.second != DataParserStatus::Ok) {
            slot.result = Slot::Result::Parse;
            slot.at = FailureOffset(slot.text);
            slot.parser->Reset();
            return;
        }
        // Here, on the worker, rather than as the reading thread cuts the
        // batch: the bytes are at hand, and the reading thread is the one
        // every batch waits for. It found the comments, CDATA sections and
        // PIs as it cut the batch.
        slot.bare = BareAmpersands{};
        FindBareAmpersands(slot.text, slot.prefix, slot.prefix + slot.content, slot.opaque,
                           slot.bare);
        // The tables' memory is kept from batch to batch.
        if (slot.splicer) {
            slot.splicer->Reset(settings.deep, slot.text.size());
        } else {
            slot.splicer.emplace(settings.deep, slot.text.size());
        }
        std::string error;
        slot.changed.Clear();
        if (!Redact(*slot.parser, expressions, settings, slot.outcomes, error, &*slot.splicer, {},
                    slot.text, audit ? &slot.changed : nullptr)) {
            const bool outside =
                !slot.outcomes.empty() && !slot.outcomes.back().outsideRecords.empty();
            slot.result = outside ? Slot::Result::Outside : Slot::Result::Usage;
            slot.error = error;
            slot.parser->Reset();
            return;
        }
        if (audit) {
            slot.shape = ElementShape();
            pugi::xml_node root = DocumentNode(*slot.parser).first_child();
            while (root && root.type() != pugi::node_element) {
                root = root.next_sibling();
            }
            for (pugi::xml_node record = root.first_child(); record;
                 record = record.next_sibling()) {
                if (record.type() == pugi::node_element) {
                    AddElementShape(record, slot.shape);
                }
            }
        }
        slot.parser->Reset();
        Lap(start, slot.redact);
        if (!slot.splicer->Problem().empty() || !slot.splicer->Resolve(slot.text)) {
            slot.result = Slot::Result::Splice;
            slot.error = slot.splicer->Problem();
            return;
        }
        AddCommentLeftovers(*slot.splicer, slot.outcomes);
        slot.end = EndOf(content);
        Lap(start, slot.splice);
        for (const SourceEdit& edit : slot.splicer->Edits()) {
            if (edit.begin < slot.prefix || edit.end > slot.prefix + slot.content) {
                slot.result = Slot::Result::Outside;
                slot.error = "a change falls outside the records";
                return;
            }
        }
    } catch (const std::exception& failure) {
        if (slot.parser) {
            slot.parser->Reset();  // its blocks go with this thread's next batch
        }
        slot.result = Slot::Result::Failed;
        slot.error = std::string("failed: ") + failure.what();
    }
}

void Accumulate(std::vector<ExpressionOutcome>& total, const std::vector<ExpressionOutcome>& part) {
    for (std::size_t index = 0; index < total.size() && index < part.size(); ++index) {
        total[index].selected += part[index].selected;
        total[index].attributes += part[index].attributes;
        total[index].redacted += part[index].redacted;
        total[index].elements += part[index].elements;
        total[index].elementsWithOtherText += part[index].elementsWithOtherText;
        total[index].skipped += part[index].skipped;
        for (const NameFound& found : part[index].names) {
            std::vector<NameFound>& names = total[index].names;
            const auto same = std::find_if(names.begin(), names.end(), [&](const NameFound& known) {
                return known.test == found.test && known.attribute == found.attribute &&
                       known.name == found.name && known.uri == found.uri;
            });
            if (same == names.end()) {
                names.push_back(found);
            } else {
                same->count += found.count;
            }
        }
        for (const std::string& name : part[index].entities) {
            auto& names = total[index].entities;
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(name);
            }
        }
    }
}

}  // namespace qiv::redact
