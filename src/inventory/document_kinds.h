#pragma once
// The five kinds of stock documents (orders, entries, requisitions, outputs,
// losses) as data: their tables, statements, sort keys, option names and
// follow-up marks. One engine (documents.h) runs every kind from these rows.

#include <span>
#include <string_view>

namespace quelvar::inventory {

// How one statement parameter is taken from the decoded record sets.
enum class BindFrom {
  Integer,         // the row's field read as an integer
  Real,            // the row's field read as a real
  Text,            // the row's field read as text
  Date,            // the row's field read as a date (null stays null)
  DocumentNumber,  // the number of the document being saved
  ResolvedLot,     // the lot found or created for the item row (entries)
};

struct Binding {
  BindFrom from;
  std::string_view field = "";  // the record-set field, for the first four
};

// The mark a new document sets on the document it comes from.
struct FollowUp {
  std::string_view sourceField;  // header field naming the earlier document; none when empty
  std::string_view statement;    // binds today's date, then that number
};

struct DocumentKind {
  std::string_view group;  // event group
  int deleteFlag;
  // Options: list with items, header list, item list, save.
  std::string_view listWithItemsOption;
  std::string_view headerListOption;
  std::string_view itemListOption;
  std::string_view saveOption;
  // Lists.
  std::string_view listWithItemsStatement;
  std::string_view headerListStatement;
  std::string_view dateFromCondition;  // binds :p00
  std::string_view dateToCondition;    // binds :p01
  std::string_view textCondition;      // binds :p02 by name
  std::string_view numberCondition;    // binds :p02 by name
  std::string_view sortKey;
  std::string_view itemListStatement;  // binds :p00
  // Save.
  std::string_view headerNumberField;
  std::string_view headerUpdate;
  std::span<const Binding> headerUpdateBindings;
  std::string_view headerInsert;
  std::span<const Binding> headerInsertBindings;
  std::string_view itemDelete;  // binds the number
  // The highest document number any item row of the kind carries (0 when
  // none), and the move of a new header to another number (binds the new
  // number, then the old one): a new document never takes a number that
  // items without a header already use.
  std::string_view highestItemNumber;
  std::string_view headerRenumber;
  std::string_view itemInsert;
  std::span<const Binding> itemInsertBindings;
  bool itemsNameLots;  // entry items name a lot by name and material, found or created
  FollowUp followUp;
  // Delete.
  std::string_view headerDeletion;  // binds today, the user, the number
  std::string_view itemDeletion;    // binds today, the number; none when empty
};

std::span<const DocumentKind> DocumentKinds();

// The kind whose delete flag is `flag`; raises Error when none is.
const DocumentKind& DocumentKindOfFlag(int flag);

}  // namespace quelvar::inventory
