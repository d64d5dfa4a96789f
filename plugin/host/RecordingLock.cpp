#include "plugin/host/RecordingLock.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "platform/datetime/DateTime.h"

namespace ostra::host {
namespace {

std::mutex OutputLock;

std::mutex ReleaseLock;
std::condition_variable ReleaseSignal;
bool Released = false;

std::string Stamp(kestrane::TDateTime Value) {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss", Value);
}

}  // namespace

void Say(const std::string& Line) {
    std::lock_guard<std::mutex> guard(OutputLock);
    std::fwrite(Line.data(), 1, Line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void ReleaseWrites() {
    {
        std::lock_guard<std::mutex> guard(ReleaseLock);
        Released = true;
    }
    ReleaseSignal.notify_all();
}

void TRecordingLock::ShowOptionForm() {
    Say("lock ShowOptionForm");
}

bool TRecordingLock::OpenPort() {
    Say("lock OpenPort");
    return true;
}

void TRecordingLock::Beep() {
    Say("lock Beep");
}

bool TRecordingLock::ClosePort() {
    Say("lock ClosePort");
    return true;
}

bool TRecordingLock::WriteCard(std::string RegisterId, std::string BuildingCode,
                               std::string FloorCode, std::string RoomNo, std::string GuestName,
                               kestrane::TDateTime BeginDate, kestrane::TDateTime BeginTime,
                               kestrane::TDateTime EndDate, kestrane::TDateTime EndTime,
                               int64_t& CardNo) {
    Say("lock WriteCard|" + RegisterId + "|" + BuildingCode + "|" + FloorCode + "|" + RoomNo + "|" +
        GuestName + "|" + Stamp(BeginDate) + "|" + Stamp(BeginTime) + "|" + Stamp(EndDate) + "|" +
        Stamp(EndTime));
    if (Answers.BlockWrite) {
        std::unique_lock<std::mutex> guard(ReleaseLock);
        ReleaseSignal.wait(guard, [] { return Released; });
        Say("lock WriteCard released");
    }
    if (Answers.WriteCardNo) CardNo = Answers.WriteCardNo;
    return Answers.WriteOk;
}

bool TRecordingLock::ReadCard(int64_t& CardNo) {
    Say("lock ReadCard");
    if (Answers.ReadCardNo) CardNo = Answers.ReadCardNo;
    return Answers.ReadOk;
}

bool TRecordingLock::EraseCard() {
    Say("lock EraseCard");
    return Answers.EraseOk;
}

}  // namespace ostra::host
