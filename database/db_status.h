// The result of loading the database files.
#pragma once

#include <string>
#include <utility>

namespace kavo {

struct DbStatus {
    enum class Code {
        kOk,       // loaded
        kMissing,  // kavo.frs or kavo.nrs missing or empty: an empty database, no message
        kDamaged,  // the files failed a check; the database is empty and must be rebuilt
    };
    Code code = Code::kOk;
    // For kDamaged: which file and what was wrong ("kavo.nrs: key 17 out of order").
    std::u16string reason;

    bool Ok() const { return code == Code::kOk; }
    bool Damaged() const { return code == Code::kDamaged; }

    static DbStatus Damage(std::u16string why) { return {Code::kDamaged, std::move(why)}; }
};

}  // namespace kavo
