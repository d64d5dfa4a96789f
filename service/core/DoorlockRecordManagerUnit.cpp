#include "service/core/DoorlockRecordManagerUnit.h"

namespace ostra {

TDoorlockRecordManager* RecordManager = nullptr;

TDoorlockRecordManager::TDoorlockRecordManager() = default;
TDoorlockRecordManager::~TDoorlockRecordManager() = default;
void TDoorlockRecordManager::Open(const std::string&) {}
bool TDoorlockRecordManager::IsOpen() const { return false; }
std::string TDoorlockRecordManager::DatabasePath() const { return DatabasePath_; }
TDateTime TDoorlockRecordManager::GetLastCheckInTime(const std::string&) { return 0; }
void TDoorlockRecordManager::UpdateLastCheckInTime(const std::string&, TDateTime) {}
void TDoorlockRecordManager::InsertRoom(const std::string&, TDateTime) {}
void TDoorlockRecordManager::InsertIssueCardRecord(const std::string&, const std::string&,
                                                   const std::string&, int32_t, TDateTime,
                                                   TDateTime, TDateTime, bool,
                                                   const std::string&, TDateTime) {}
void CreateRecordManager() {}
void FreeRecordManager() {}
TDoorlockRecordManager* SetRecordManager(TDoorlockRecordManager* M) {
    auto* old = RecordManager;
    RecordManager = M;
    return old;
}

}  // namespace ostra
