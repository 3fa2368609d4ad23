#include "ByteSource.h"

#include <algorithm>
#include <cstring>

namespace qiv::redact {

bool TextSource::Read(char* buffer, std::size_t capacity, std::size_t& got) {
    got = std::min({capacity, piece_, text_.size() - at_});
    std::memcpy(buffer, text_.data() + at_, got);
    at_ += got;
    return true;
}

}  // namespace qiv::redact
