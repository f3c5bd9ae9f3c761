#include "formats/param_block.h"

#include <cstdint>
#include <cstring>

#include "formats/base64.h"
#include "formats/errors.h"
#include "formats/wire_values.h"

namespace quelvar {

using enum TObjectValue;

namespace {

constexpr std::int32_t kBlockMagic = 6;
constexpr std::size_t kHeaderSize = 16;

class BlockWriter {
 public:
  template <typename Int>
  void put(Int v) {
    unsigned char bytes[sizeof(Int)];
    auto u = static_cast<std::make_unsigned_t<Int>>(v);
    for (std::size_t i = 0; i < sizeof(Int); ++i) bytes[i] = static_cast<unsigned char>(u >> (8 * i) & 0xFF);
    out_.append(reinterpret_cast<const char*>(bytes), sizeof(Int));
  }
  void putText(std::string_view bytes) {
    put<std::int64_t>(static_cast<std::int64_t>(bytes.size()));
    out_.append(bytes);
  }
  void putFlag(bool b) {
    put<std::uint8_t>(b ? 1 : 0);
    put<std::uint8_t>(0);
  }
  std::string& data() { return out_; }

 private:
  std::string out_;
};

class BlockReader {
 public:
  explicit BlockReader(std::string_view data) : data_(data) {}
  template <typename Int>
  Int get() {
    need(sizeof(Int));
    std::make_unsigned_t<Int> u = 0;
    for (std::size_t i = 0; i < sizeof(Int); ++i)
      u |= static_cast<std::make_unsigned_t<Int>>(static_cast<unsigned char>(data_[pos_ + i])) << (8 * i);
    pos_ += sizeof(Int);
    return static_cast<Int>(u);
  }
  // A length-prefixed byte string; the length is checked against what is left.
  std::string getText() {
    const auto length = get<std::int64_t>();
    if (length < 0) throw Error("Stream read error");
    need(static_cast<std::uint64_t>(length));
    std::string out(data_.substr(pos_, static_cast<std::size_t>(length)));
    pos_ += static_cast<std::size_t>(length);
    return out;
  }
  bool getFlag() {
    const auto first = get<std::uint8_t>();
    get<std::uint8_t>();
    return first != 0;
  }

 private:
  void need(std::uint64_t n) const {
    if (n > data_.size() - pos_) throw Error("Stream read error");
  }
  std::string_view data_;
  std::size_t pos_ = 0;
};

bool Selected(const TJSONParam& p, TDWParamExpType selection) {
  if (selection == TDWParamExpType::tdwpxt_OUT) return p.Direction() != TObjectDirection::odIN;
  if (selection == TDWParamExpType::tdwpxt_IN) return p.Direction() != TObjectDirection::odOUT;
  return true;
}

void WriteValue(BlockWriter& w, const TJSONParam& p) {
  const TObjectValue type = p.ValueType();
  switch (type) {
    case ovString:
    case ovFixedChar:
    case ovWideString:
    case ovObject: w.putText(Utf8ToAnsi(p.GetAsString())); return;
    case ovSmallint:
    case ovInteger:
    case ovAutoInc:
    case ovShortint:
    case ovSingle: w.put<std::int32_t>(p.GetAsInteger()); return;
    case ovLongWord: w.put<std::int32_t>(static_cast<std::int32_t>(p.GetAsLongWord())); return;
    case ovWord: w.put<std::uint16_t>(p.GetAsWord()); return;
    case ovLargeint: w.put<std::int64_t>(p.GetAsLargeInt()); return;
    case ovBoolean: w.putFlag(p.GetAsBoolean()); return;
    case ovByte: w.put<std::uint8_t>(p.GetAsBoolean() ? 1 : 0); return;
    case ovDate:
    case ovTime:
    case ovDateTime:
    case ovTimeStamp:
    case ovTimeStampOffset: w.put<std::int64_t>(p.IsNull() ? 0 : DateTimeToWire(p.GetAsDate())); return;
    case ovBytes:
    case ovBlob:
    case ovStream: {
      const Variant bytes = p.GetValue(type);
      w.putText(bytes.kind() == Variant::Kind::Bytes ? bytes.bytes() : std::string());
      return;
    }
    case ovFloat:
    case ovCurrency:
    case ovBCD:
    case ovFMTBcd:
    case ovExtended: w.putText(p.IsNull() ? std::string() : FloatToWire(FormatFloat(p.GetAsFloat()))); return;
    default: return;  // no value field
  }
}

void ReadValue(BlockReader& r, TJSONParam& p, TObjectValue type) {
  switch (type) {
    case ovString:
    case ovFixedChar:
    case ovWideString:
    case ovObject: {
      const std::string text = r.getText();
      if (!text.empty()) p.SetAsString(AnsiToUtf8(text));
      return;
    }
    case ovSmallint:
    case ovInteger:
    case ovAutoInc:
    case ovShortint:
    case ovSingle:
    case ovLongWord: p.SetAsInteger(r.get<std::int32_t>()); return;
    case ovWord: p.SetAsInteger(r.get<std::uint16_t>()); return;
    case ovLargeint: p.SetAsLargeInt(r.get<std::int64_t>()); return;
    case ovBoolean: p.SetAsBoolean(r.getFlag()); return;
    case ovByte: p.SetAsBoolean(r.get<std::uint8_t>() != 0); return;
    case ovDate:
    case ovTime:
    case ovDateTime:
    case ovTimeStamp:
    case ovTimeStampOffset: {
      const auto seconds = r.get<std::int64_t>();
      if (seconds != 0) p.SetAsDateTime(DateTimeFromWire(seconds));
      return;
    }
    case ovBytes:
    case ovBlob:
    case ovStream: {
      const std::string bytes = r.getText();
      if (!bytes.empty()) {
        p.SetValueType(ovBlob);
        p.SetValue(EncodeBytes(bytes), true);
      }
      return;
    }
    case ovFloat:
    case ovCurrency:
    case ovBCD:
    case ovFMTBcd:
    case ovExtended: {
      const std::string text = r.getText();
      if (!text.empty()) p.SetDataValue(Variant::Float(ParseFloat(FloatFromWire(text))), type);
      return;
    }
    default: return;
  }
}

template <typename Enum>
Enum CheckedOrdinal(std::int32_t ordinal, bool (*convert)(int, Enum&)) {
  Enum value{};
  if (!convert(ordinal, value)) throw Error("Invalid Stream...");
  return value;
}

}  // namespace

std::string SaveToStream(const TDWParams& params, TDWParamExpType selection) {
  BlockWriter w;
  w.put<std::int32_t>(kBlockMagic);
  w.put<std::int32_t>(params.Count());
  w.put<std::int64_t>(0);
  std::int32_t written = 0;
  for (int i = 0; i < params.Count(); ++i) {
    const TJSONParam& p = *params.GetRec(i);
    if (!Selected(p, selection)) continue;
    w.putText(Utf8ToAnsi(p.ParamName()));
    w.put<std::int32_t>(static_cast<std::int32_t>(p.Direction()));
    w.putFlag(p.Encoded());
    w.put<std::int32_t>(static_cast<std::int32_t>(p.vJsonMode));
    w.put<std::int32_t>(static_cast<std::int32_t>(p.TypeObject()));
    w.put<std::int32_t>(static_cast<std::int32_t>(p.ValueType()));
    WriteValue(w, p);
    ++written;
  }
  // Rewrite the header with what was really written.
  std::string& block = w.data();
  BlockWriter header;
  header.put<std::int32_t>(kBlockMagic);
  header.put<std::int32_t>(written);
  header.put<std::int64_t>(static_cast<std::int64_t>(block.size() - kHeaderSize));
  std::memcpy(block.data(), header.data().data(), kHeaderSize);
  return std::move(block);
}

void LoadFromStream(TDWParams& params, std::string_view block, TDWParamExpType selection) {
  if (block.size() < kHeaderSize) throw Error("Invalid Stream...");
  BlockReader r(block);
  r.get<std::int32_t>();  // block version, not interpreted
  const auto count = r.get<std::int32_t>();
  const auto length = r.get<std::int64_t>();
  if (length < 0 || static_cast<std::uint64_t>(length) != block.size() - kHeaderSize) throw Error("Invalid Stream...");

  for (std::int32_t i = 0; i < count; ++i) {
    const std::string name = AnsiToUtf8(r.getText());
    const auto direction = CheckedOrdinal<TObjectDirection>(r.get<std::int32_t>(), DirectionFromOrdinal);
    const bool encoded = r.getFlag();
    const auto mode = CheckedOrdinal<TJsonMode>(r.get<std::int32_t>(), JsonModeFromOrdinal);
    const auto kind = CheckedOrdinal<TTypeObject>(r.get<std::int32_t>(), TypeObjectFromOrdinal);
    const auto type = CheckedOrdinal<TObjectValue>(r.get<std::int32_t>(), ValueTypeFromOrdinal);

    TJSONParam* p = params.GetRecName(name);
    if (!p) p = &params.AddNew();
    p->SetParamName(name);
    p->SetDirection(direction);
    p->SetEncoded(encoded);
    p->vJsonMode = mode;
    p->SetTypeObject(kind);
    p->SetValueType(type);
    ReadValue(r, *p, type);

    if ((selection == TDWParamExpType::tdwpxt_IN && p->Direction() == TObjectDirection::odOUT) ||
        (selection == TDWParamExpType::tdwpxt_OUT && p->Direction() == TObjectDirection::odIN))
      params.Delete(p);
  }
}

}  // namespace quelvar
