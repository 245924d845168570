#include "update/checks_ahead.h"

#include <chrono>
#include <future>

namespace kqget {

namespace {

// A file system's clock may lag the process's by its tick, and some keep
// times to two seconds: a change this close to a look's start is taken for
// one made during it.
constexpr std::chrono::seconds kClockSlack{2};

struct Verdict
{
    std::int64_t begun = 0; // on the clock of FileStamp::changed, less the slack
    bool failed = false;    // the look threw: the turn meets that itself
    std::optional<std::string> damage;
};

} // namespace

struct ChecksAhead::Check
{
    std::string path;
    std::future<Verdict> verdict; // its destructor waits for the look to end
};

std::shared_ptr<ChecksAhead::Check> ChecksAhead::queue(std::string path, CardFileKind kind) noexcept
{
    if (m_blind) {
        return nullptr;
    }
    try {
        auto look = [&check = m_check, path, kind] {
            Verdict verdict;
            verdict.begun = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::system_clock::now().time_since_epoch() - kClockSlack)
                                .count();
            try {
                verdict.damage = check.fileDamage(path, kind);
            } catch (...) {
                verdict.failed = true;
            }
            return verdict;
        };
        return std::make_shared<Check>(
            Check{std::move(path), std::async(std::launch::async, std::move(look))});
    } catch (...) {
        return nullptr;
    }
}

std::optional<std::string> ChecksAhead::damage(const std::shared_ptr<Check>& ahead,
                                               const std::string& path, CardFileKind kind,
                                               FileStamp now)
{
    // A change of content, a file moved in or made anew all set the change
    // time, which no program can set back. Without it no verdict ever holds.
    m_blind = m_blind || now.changed == 0;
    if (ahead && ahead->path == path && !m_blind && ahead->verdict.valid()) {
        Verdict verdict = ahead->verdict.get();
        if (!verdict.failed && now.changed < verdict.begun) {
            return std::move(verdict.damage);
        }
    }
    return m_check.fileDamage(path, kind);
}

} // namespace kqget
