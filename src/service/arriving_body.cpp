#include "service/arriving_body.h"

#include <algorithm>

namespace quelvar::service {

std::uint64_t GrownCapacity(std::uint64_t capacity, std::uint64_t needed) {
  return needed <= capacity ? capacity : std::max(needed, 2 * capacity);
}

bool ArrivingBody::reader::Fits(std::size_t more) {
  std::string& text = body_.text;
  if (body_.pieceByPiece == nullptr || text.size() + more <= text.capacity()) return true;
  const std::uint64_t needed = text.size() + more;
  // The smallest block a string allocates beyond the bytes it keeps inside itself.
  const std::uint64_t smallest = 2 * std::string().capacity();
  // Doubled while the budget allows it, then by a quarter (never by less: each
  // growth copies the whole text).
  for (std::uint64_t next : {GrownCapacity(text.capacity(), needed), needed + needed / 4}) {
    next = std::max(next, smallest);
    if (next < needed || !body_.pieceByPiece->TryTake(next - body_.counted)) continue;
    std::string grown;
    grown.reserve(static_cast<std::size_t>(next));
    grown.append(text);
    text.swap(grown);
    body_.counted = next;
    return true;
  }
  return false;
}

}  // namespace quelvar::service
