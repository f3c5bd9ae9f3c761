#include "data/tdm.h"

#include <utility>

namespace quelvar {

TDM::TDM(OperatorConsole& console, std::shared_ptr<const DatabasePath> databasePath,
         std::filesystem::path programFolder)
    : console_(console), databasePath_(std::move(databasePath)), programFolder_(std::move(programFolder)) {
  console_.countModule();
}

TDM::~TDM() = default;

void TDM::Log(std::string entry) const { console_.log(std::move(entry)); }

std::string TDM::DatabaseFile() const {
  if (!databasePath_) return {};
  return *databasePath_->get();
}

}  // namespace quelvar
