#include "kx_sim.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cstring>

#include "gateways/kx/block.h"
#include "gateways/kx/kx_gateway.h"

namespace tsr::sims {
namespace {

constexpr unsigned kBlockCount = 8;

void put_le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

std::span<uint8_t> Bytes(uint8_t* data) {
    return {data, kx::kBlockSize};
}

}  // namespace

KxSim::KxSim(std::string namePrefix) : prefix_(std::move(namePrefix)) {}

KxSim::~KxSim() {
    Stop();
}

bool KxSim::Start() {
    if (!blocks_.empty()) return true;
    for (unsigned n = 1; n <= kBlockCount; ++n) {
        Block b;
        b.name = KxBlockName(prefix_, n);
        b.fd = shm_open(b.name.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        bool ok = b.fd >= 0 && ftruncate(b.fd, kx::kBlockSize) == 0;
        if (ok) {
            void* p = mmap(nullptr, kx::kBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, b.fd, 0);
            ok = p != MAP_FAILED;
            if (ok) b.data = static_cast<uint8_t*>(p);
        }
        if (b.fd >= 0) blocks_.push_back(b);
        if (!ok) {
            CloseBlocks();
            return false;
        }
        std::memset(b.data, 0, kx::kBlockSize);
    }
    ending_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void KxSim::Stop() {
    ending_ = true;
    if (thread_.joinable()) thread_.join();
    CloseBlocks();
}

void KxSim::CloseBlocks() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Block& b : blocks_) {
        if (b.data != nullptr) munmap(b.data, kx::kBlockSize);
        if (b.fd >= 0) close(b.fd);
        shm_unlink(b.name.c_str());
    }
    blocks_.clear();
}

void KxSim::SetInteger(const std::string& name, int32_t value, uint16_t type) {
    std::lock_guard<std::mutex> lock(mutex_);
    variables_[name] = {type, static_cast<uint32_t>(value), value < 0 ? 0xFFFFFFFFu : 0u};
}

void KxSim::SetSingle(const std::string& name, float value) {
    std::lock_guard<std::mutex> lock(mutex_);
    variables_[name] = {kx::kTypeSingle, std::bit_cast<uint32_t>(value), 0};
}

void KxSim::SetDouble(const std::string& name, double value) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    variables_[name] = {kx::kTypeDouble, static_cast<uint32_t>(bits),
                        static_cast<uint32_t>(bits >> 32)};
}

std::optional<KxSim::Variable> KxSim::Get(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = variables_.find(name);
    if (it == variables_.end()) return std::nullopt;
    return it->second;
}

#ifdef TESSORA_SIM_FAULTS
bool KxSim::SetOwner(unsigned number, uint32_t owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (number < 1 || number > blocks_.size() || blocks_[number - 1].data == nullptr) return false;
    kx::StoreWord(Bytes(blocks_[number - 1].data), kx::kOwnerOffset, owner);
    return true;
}

bool KxSim::Shorten(unsigned number, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (number < 1 || number > blocks_.size()) return false;
    Block& b = blocks_[number - 1];
    if (b.data != nullptr) munmap(b.data, kx::kBlockSize);
    b.data = nullptr;
    return ftruncate(b.fd, static_cast<off_t>(size)) == 0;
}
#endif  // TESSORA_SIM_FAULTS

uint32_t KxSim::Owner(unsigned number) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (number < 1 || number > blocks_.size() || blocks_[number - 1].data == nullptr) return 0;
    return kx::LoadWord(Bytes(blocks_[number - 1].data), kx::kOwnerOffset);
}

std::vector<uint8_t> KxSim::Snapshot(unsigned number) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (number < 1 || number > blocks_.size() || blocks_[number - 1].data == nullptr) return {};
    const uint8_t* d = blocks_[number - 1].data;
    return std::vector<uint8_t>(d, d + kx::kBlockSize);
}

int KxSim::CommandCount(uint32_t command) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return command >= 1 && command <= 4 ? commandCounts_[command] : 0;
}

std::vector<std::string> KxSim::NamesSeen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return namesSeen_;
}

void KxSim::Run() {
    while (!ending_) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (Block& b : blocks_)
                if (b.data != nullptr) Serve(b);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// One pass over an owned block: the heartbeat advances, a new command is answered.
void KxSim::Serve(Block& block) {
    const std::span<uint8_t> bytes = Bytes(block.data);
    if (kx::LoadWord(bytes, kx::kOwnerOffset) == 0 || stopped_) return;
    kx::StoreWord(bytes, kx::kHeartbeatOffset, kx::LoadWord(bytes, kx::kHeartbeatOffset) + 1);
    const uint32_t command = kx::LoadWord(bytes, kx::kCommandOffset);
    if (command >= 1 && command <= 4) Answer(block, command);
}

void KxSim::Answer(Block& block, uint32_t command) {
    const std::span<uint8_t> bytes = Bytes(block.data);
    ++commandCounts_[command];
    if (refusing_) {
        kx::StoreWord(bytes, kx::kCommandOffset, kx::kRefused);
        return;
    }
    if (command == static_cast<uint32_t>(kx::Command::Check)) {
        kx::StoreWord(bytes, kx::kCommandOffset, kx::kDoneBase + command);
        return;
    }
    kx::StoreWord(bytes, kx::kCommandOffset, kx::kWorkingBase + command);
    if (unfinished_) return;
    const uint32_t count = kx::LoadWord(bytes, kx::kCountOffset);
    size_t offset = 0;
    for (uint32_t i = 0; i < count; ++i) {
        kx::Record r;
        if (kx::ParseRecord(bytes, offset, &r) != kx::BlockError::None) break;
        AnswerRecord(block.data, offset, command);
        offset += r.size;
    }
    Lie(block.data);
    kx::StoreWord(bytes, kx::kCommandOffset, kx::kDoneBase + command);
}

void KxSim::AnswerRecord(uint8_t* data, size_t offset, uint32_t command) {
    const std::span<uint8_t> bytes = Bytes(data);
    kx::Record r;
    if (kx::ParseRecord(bytes, offset, &r) != kx::BlockError::None) return;
    const std::string name(r.name);
    namesSeen_.push_back(name);
    auto it = variables_.find(name);
    if (it == variables_.end()) {
        kx::WriteAnswer(bytes, offset, 0, kx::kUnknownVariable, 0, 0);
        return;
    }
    Variable& v = it->second;
    if (command == static_cast<uint32_t>(kx::Command::Write)) {
        v.low = r.low;
        v.high = r.high;
    }
    kx::WriteAnswer(bytes, offset, v.type, 0, v.low, v.high);
}

// Spoils the first record of the answer as the lie mode says.
void KxSim::Lie(uint8_t* data) {
    uint8_t* first = data + kx::kRecordsOffset;
    const uint16_t size = static_cast<uint16_t>(first[0] | first[1] << 8);
    switch (lie_.load()) {
        case RecordLie::None:
            return;
        case RecordLie::SizePastEnd:
            put_le16(first, 0xFFFF);
            return;
        case RecordLie::SizeTooSmall:
            put_le16(first, 5);
            return;
        case RecordLie::NameUnterminated:
            if (size >= kx::kRecordOverhead) first[size - 13] = 'X';
            return;
        case RecordLie::SizeTooLarge:
            put_le16(first, static_cast<uint16_t>(size + 4));
            return;
        case RecordLie::CountZero:
            kx::StoreWord(Bytes(data), kx::kCountOffset, 0);
            return;
    }
}

}  // namespace tsr::sims
