// A stand-in for the KX gateway program: it creates the eight shared-memory blocks, advances the
// heartbeat of every owned block on a thread of its own and answers the four commands from a
// table of variables. It can be told to misbehave: stop (no heartbeat, no answers), refuse every
// command, leave commands unfinished, own a block itself, lie about record sizes in its answers,
// or shorten a block's shared-memory object.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tsr::sims {

class KxSim {
public:
    // A variable as the KX program holds it: its type (4 single, 6 double, others integer) and
    // the value's two halves.
    struct Variable {
        uint16_t type = 0;
        uint32_t low = 0;
        uint32_t high = 0;
    };

    // How the answer's first record lies.
    enum class RecordLie {
        None,
        SizePastEnd,       // size field 0xFFFF: the record would pass the block's end
        SizeTooSmall,      // size field 5: smaller than the fixed fields
        NameUnterminated,  // the name's terminator overwritten
        SizeTooLarge,      // size field larger than the name says (the terminator comes early)
        CountZero,         // record count 0
    };

    // The blocks are named "/<namePrefix>kxxg#1" to "/<namePrefix>kxxg#8".
    explicit KxSim(std::string namePrefix = "");
    ~KxSim();
    KxSim(const KxSim&) = delete;
    KxSim& operator=(const KxSim&) = delete;

    // Creates (or takes over and clears) the eight blocks and starts answering. False when a
    // block cannot be created or mapped (nothing is left behind then).
    bool Start();
    // Stops answering and removes the eight blocks.
    void Stop();

    // The variable table. Integer variables have type 1 unless told otherwise.
    void SetInteger(const std::string& name, int32_t value, uint16_t type = 1);
    void SetSingle(const std::string& name, float value);
    void SetDouble(const std::string& name, double value);
    std::optional<Variable> Get(const std::string& name) const;

#ifdef TESSORA_SIM_FAULTS
    // Fault modes.
    void SetStopped(bool stopped) { stopped_ = stopped; }  // no heartbeat and no answers
    void SetRefusing(bool refusing) { refusing_ = refusing; }
    void SetLeaveUnfinished(bool unfinished) { unfinished_ = unfinished; }
    void SetRecordLie(RecordLie lie) { lie_ = lie; }
    // Writes `owner` into block `number`'s owner field (1 to 8; 0 frees it). False when there is
    // no such block.
    bool SetOwner(unsigned number, uint32_t owner);
    // Makes block `number`'s shared-memory object `size` bytes long; the simulator stops using
    // that block. False when there is no such block or it cannot be resized.
    bool Shorten(unsigned number, size_t size);
#endif  // TESSORA_SIM_FAULTS

    // What was seen: the owner and the bytes of a block (empty for a shortened one), how many
    // times each command (1 to 4) was taken, and the variable names of every record taken.
    uint32_t Owner(unsigned number) const;
    std::vector<uint8_t> Snapshot(unsigned number) const;
    int CommandCount(uint32_t command) const;
    std::vector<std::string> NamesSeen() const;

private:
    struct Block {
        std::string name;
        int fd = -1;
        uint8_t* data = nullptr;  // 65536 bytes mapped; null once shortened
    };

    void Run();
    void Serve(Block& block);
    void Answer(Block& block, uint32_t command);
    void AnswerRecord(uint8_t* data, size_t offset, uint32_t command);
    void Lie(uint8_t* data);
    void CloseBlocks();

    const std::string prefix_;
    std::vector<Block> blocks_;
    mutable std::mutex mutex_;  // the blocks, the table and the counters
    std::map<std::string, Variable> variables_;
    int commandCounts_[5] = {0, 0, 0, 0, 0};
    std::vector<std::string> namesSeen_;
    std::atomic<bool> stopped_{false}, refusing_{false}, unfinished_{false};
    std::atomic<RecordLie> lie_{RecordLie::None};
    std::atomic<bool> ending_{false};
    std::thread thread_;
};

}  // namespace tsr::sims
