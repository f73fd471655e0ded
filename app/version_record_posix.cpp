#include "app/version_record.h"

// The four numbers come from cmake/Version.cmake, the same values the Windows version
// resource is made from.
#if !defined(TESSEL_VERSION_1) || !defined(TESSEL_VERSION_2) || !defined(TESSEL_VERSION_3) || \
    !defined(TESSEL_VERSION_4)
#error "TESSEL_VERSION_1..4 must be defined by the build"
#endif

namespace {

class CCompiledVersionRecord final : public IVersionRecord {
public:
    std::optional<SProductVersion> ReadProductVersion() override {
        return SProductVersion{{TESSEL_VERSION_1, TESSEL_VERSION_2, TESSEL_VERSION_3, TESSEL_VERSION_4}};
    }
};

}  // namespace

IVersionRecord& SystemVersionRecord() {
    static CCompiledVersionRecord record;
    return record;
}
