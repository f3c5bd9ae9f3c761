#pragma once
// Entry saves for the suites that kill the server in the middle of a stream
// of them: the header and item record sets a desktop client sends.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue_support.h"
#include "data/date_texts.h"

namespace quelvar::test {

inline constexpr std::string_view kEntries = "DWServerEventsT12_ENTR";

// The record-set text of one row (field types from the values).
inline std::string OneRowRecords(const std::vector<std::pair<std::string, Variant>>& row) {
  MemTable t;
  for (const auto& [name, value] : row) {
    TFieldType type = TFieldType::ftWideString;
    if (value.kind() == Variant::Kind::Integer) type = TFieldType::ftInteger;
    if (value.kind() == Variant::Kind::Float) type = TFieldType::ftFloat;
    if (value.kind() == Variant::Kind::DateTime) type = TFieldType::ftDate;
    t.AddFieldDef({.name = name, .type = type, .size = type == TFieldType::ftWideString ? 60 : 0});
  }
  t.Open();
  t.Append();
  for (const auto& [name, value] : row) t.SetValue(name, value);
  t.Post();
  return DatasetText(t);
}

// Items of entry `i`: two rows, each creating its own lot.
inline std::string ItemsOf(int i) {
  MemTable t;
  t.AddFieldDef({.name = "T05_Lote", .type = TFieldType::ftWideString, .size = 60});
  t.AddFieldDef({.name = "T05_NumMaterial", .type = TFieldType::ftInteger});
  t.AddFieldDef({.name = "T05_Validade", .type = TFieldType::ftDate});
  t.AddFieldDef({.name = "T05_Local", .type = TFieldType::ftWideString, .size = 60});
  t.AddFieldDef({.name = "T13_Qtd", .type = TFieldType::ftFloat});
  t.AddFieldDef({.name = "T13_Valor", .type = TFieldType::ftFloat});
  t.Open();
  for (int row = 0; row < 2; ++row) {
    t.Append();
    t.SetValue("T05_Lote", Variant::Text("S" + std::to_string(i) + "-" + std::to_string(row)));
    t.SetValue("T05_NumMaterial", Variant::Integer(3));
    t.SetValue("T05_Validade", Variant::DateTime(ParseDisplayDateTime("01/01/2030").value()));
    t.SetValue("T05_Local", Variant::Text("P"));
    t.SetValue("T13_Qtd", Variant::Float(1.0 + row));
    t.SetValue("T13_Valor", Variant::Float(2.0));
    t.Post();
  }
  return DatasetText(t);
}

// One entry header of supplier 1 (the number 0 asks for a new one).
inline std::string EntryHeader() {
  return OneRowRecords({{"T12_NumEntrada", Variant::Integer(0)},
                        {"T12_NumFornec", Variant::Integer(1)},
                        {"T12_NumPedido", Variant::Integer(0)},
                        {"T12_Data", Variant::DateTime(ParseDisplayDateTime("02/03/2024").value())},
                        {"T12_NF", Variant::Text("nf")},
                        {"T12_Obs1", Variant::Text("o1")},
                        {"T12_Obs2", Variant::Text("o2")}});
}

// The supplier and the material the saves name, written into a fresh database.
inline constexpr const char* kEntrySavesFixture =
    "Insert into T08_FORN (T08_NumFornec, T08_Fornecedor) Values (1, 'Alfa Ltda');"
    "Insert into T04_MATE (T04_NumMaterial, T04_NumGrupo, T04_Material, T04_Unidade, T04_CodBarra) "
    "Values (3, 1, 'cimento', 'sc', '789')";

}  // namespace quelvar::test
