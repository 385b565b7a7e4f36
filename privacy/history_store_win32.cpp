#include <objbase.h>
#include <urlhist.h>

#include "url_cache_win32.h"

namespace {

// CLSID_CUrlHistory and IID_IUrlHistoryStg2, as the platform publishes them.
constexpr CLSID kUrlHistoryClass = {
    0x3C374A40, 0xBAE4, 0x11CF, {0xBF, 0x7D, 0x00, 0xAA, 0x00, 0x69, 0x46, 0xEE}};
constexpr IID kUrlHistoryStg2 = {
    0xAFA0DC11, 0xC313, 0x11D0, {0x83, 0x1A, 0x00, 0xC0, 0x4F, 0xD5, 0xAE, 0x38}};
constexpr DWORD kAllContexts = 0x17;

// COM for the calling thread for one call. Only a successful initialisation
// is undone: when the thread already uses another apartment model, undoing
// would end COM under the feet of its owner.
class ComScope {
public:
    ComScope() : m_result(CoInitialize(nullptr)) {}
    ~ComScope() {
        if (SUCCEEDED(m_result)) {
            CoUninitialize();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT m_result;
};

struct Releaser {
    void operator()(IUnknown* object) const { object->Release(); }
};

}  // namespace

void UrlHistoryStore::Clear() {
    ComScope com;
    void* raw = nullptr;
    if (FAILED(CoCreateInstance(kUrlHistoryClass, nullptr, kAllContexts, kUrlHistoryStg2, &raw)) ||
        raw == nullptr) {
        return;
    }
    std::unique_ptr<IUrlHistoryStg2, Releaser> history(static_cast<IUrlHistoryStg2*>(raw));
    history->ClearHistory();
}
