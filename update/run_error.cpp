#include "update/run_error.h"

#include <new>

namespace kqget {

CaughtFailure caughtFailure() noexcept
{
    try {
        throw;
    } catch (const RunError& error) {
        return {error.number(), error.what()};
    } catch (const std::bad_alloc&) {
        return {ErrorNumber::OutOfMemory, "out of memory: the system refused an allocation"};
    } catch (const std::exception& error) {
        return {ErrorNumber::Unexpected, error.what()};
    } catch (...) {
        return {ErrorNumber::Unexpected, "an unknown internal failure"};
    }
}

} // namespace kqget
