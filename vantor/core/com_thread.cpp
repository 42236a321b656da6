#include "vantor/core/com_thread.h"

#include <cstdio>
#include <exception>
#include <utility>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/log.h"
#include "vantor/core/string_utils.h"
#include "vantor/core/sysinfo_library.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/win_api.h"
#include "vantor/core/wmi_props.h"
// After the project's Windows header, so that its settings apply to the COM declarations.
#include <wbemidl.h>

namespace vantor {

struct wmi_connection {
    IWbemServices* services = nullptr;  // null when connecting failed
};

namespace {

constexpr log_context wmi_log{"wmi"};

constexpr CLSID wbem_locator_class = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
constexpr IID wbem_locator_interface = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

// HRESULTs and variant types in lower-case hexadecimal without prefix.
std::string hex_code(unsigned long value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%lx", value);
    return text;
}
std::string hex_code(HRESULT value) { return hex_code(static_cast<unsigned long>(value)); }

// The COM and automation functions, bound once per process from the system folder's ole32 and
// oleaut32, so that the foundation imports neither library.
struct com_functions {
    decltype(&CoInitializeEx) initialize = nullptr;
    decltype(&CoUninitialize) uninitialize = nullptr;
    decltype(&CoCreateInstance) create_instance = nullptr;
    decltype(&CoSetProxyBlanket) set_proxy_blanket = nullptr;
    decltype(&SysAllocString) alloc_string = nullptr;
    decltype(&SysFreeString) free_string = nullptr;
    decltype(&SysStringLen) string_length = nullptr;
    decltype(&VariantClear) variant_clear = nullptr;
};

std::string system_library_path(const char* file_name)
{
    wchar_t folder[MAX_PATH];
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        throw exception::make_win32_error("GetSystemDirectoryW");
    }
    return path_join(from_wide(encoding_utf8, std::wstring(folder, n)), file_name);
}

// Throws the library binder's errors when a library or function is missing; a later call tries
// again.
const com_functions& com()
{
    static const com_functions functions = [] {
        static dynamic_library ole32;
        static dynamic_library oleaut32;
        if (!ole32.loaded()) {
            ole32.load(system_library_path("ole32.dll"));
        }
        if (!oleaut32.loaded()) {
            oleaut32.load(system_library_path("oleaut32.dll"));
        }
        com_functions f;
        bind_proc(ole32.get(), "CoInitializeEx", f.initialize);
        bind_proc(ole32.get(), "CoUninitialize", f.uninitialize);
        bind_proc(ole32.get(), "CoCreateInstance", f.create_instance);
        bind_proc(ole32.get(), "CoSetProxyBlanket", f.set_proxy_blanket);
        bind_proc(oleaut32.get(), "SysAllocString", f.alloc_string);
        bind_proc(oleaut32.get(), "SysFreeString", f.free_string);
        bind_proc(oleaut32.get(), "SysStringLen", f.string_length);
        bind_proc(oleaut32.get(), "VariantClear", f.variant_clear);
        return f;
    }();
    return functions;
}

// Owns one reference to a COM object.
template <typename I>
class com_ref {
public:
    explicit com_ref(I* object = nullptr) noexcept : object_(object) {}
    com_ref(const com_ref&) = delete;
    com_ref& operator=(const com_ref&) = delete;
    ~com_ref() { reset(); }

    void reset(I* object = nullptr) noexcept
    {
        if (I* old = std::exchange(object_, object)) {
            old->Release();
        }
    }
    I* get() const noexcept { return object_; }
    I* operator->() const noexcept { return object_; }
    [[nodiscard]] I* release() noexcept { return std::exchange(object_, nullptr); }

private:
    I* object_;
};

// Owns a BSTR made from a UTF-8 text.
class bstr {
public:
    explicit bstr(const std::string& text) : text_(com().alloc_string(to_wide(encoding_utf8, text).c_str()))
    {
        if (text_ == nullptr) {
            throw std::bad_alloc();
        }
    }
    bstr(const bstr&) = delete;
    bstr& operator=(const bstr&) = delete;
    ~bstr() { com().free_string(text_); }

    BSTR get() const noexcept { return text_; }

private:
    BSTR text_;
};

// A VARIANT that is cleared when it goes.
class variant {
public:
    variant() noexcept { value_.vt = VT_EMPTY; }
    variant(const variant&) = delete;
    variant& operator=(const variant&) = delete;
    ~variant() { com().variant_clear(&value_); }

    VARIANT* get() noexcept { return &value_; }
    const VARIANT& operator*() const noexcept { return value_; }

private:
    VARIANT value_;
};


// Steps 1 to 5 of connecting. `com_initialised` tells the caller whether CoUninitialize is owed.
void connect(const std::string& namespace_name, wmi_connection& connection, bool& com_initialised)
{
    const com_functions& f = com();
    HRESULT hr = f.initialize(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        wmi_log.log(VANTOR_FMT("CoInitializeEx failed: %1%"), hex_code(hr));
        return;
    }
    com_initialised = true;

    IWbemLocator* raw_locator = nullptr;
    hr = f.create_instance(wbem_locator_class, nullptr, CLSCTX_INPROC_SERVER, wbem_locator_interface,
                           reinterpret_cast<void**>(&raw_locator));
    if (FAILED(hr)) {
        wmi_log.log(VANTOR_FMT("CoCreateInstance failed: %1%"), hex_code(hr));
        return;
    }
    com_ref<IWbemLocator> locator(raw_locator);

    bstr resource(namespace_name);
    IWbemServices* raw_services = nullptr;
    hr = locator->ConnectServer(resource.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &raw_services);
    if (FAILED(hr)) {
        wmi_log.log(VANTOR_FMT("ConnectServer failed: %1%"), hex_code(hr));
        return;
    }
    com_ref<IWbemServices> services(raw_services);

    hr = f.set_proxy_blanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) {
        wmi_log.log(VANTOR_FMT("CoSetProxyBlanket failed: %1%"), hex_code(hr));
        return;
    }
    connection.services = services.release();
}

}  // namespace

com_thread::com_thread(std::string namespace_name) : thread(false), namespace_(std::move(namespace_name))
{
    start(0);
}

com_thread::~com_thread()
{
    batch_.close();
    join();
}

void com_thread::run()
{
    thread_id_ = GetCurrentThreadId();
    wmi_connection connection;
    bool com_initialised = false;
    try {
        connect(namespace_, connection, com_initialised);
    } catch (...) {
        // The thread still serves its queries, which then find no services.
        wmi_log.log(VANTOR_FMT("connecting to %1% failed: %2%"), namespace_, current_exception_text());
    }
    connection_ = &connection;
    try {
        batch_.run_until_closed();
    } catch (...) {
        wmi_log.log(VANTOR_FMT("query thread stopped: %1%"), current_exception_text());
    }
    connection_ = nullptr;
    if (connection.services != nullptr) {
        connection.services->Release();
        connection.services = nullptr;
    }
    // CoUninitialize balances a successful CoInitializeEx only.
    if (com_initialised) {
        com().uninitialize();
    }
}

vantor_stl::vector<std::string> com_thread::get_props(const std::string& class_name,
                                                      const vantor_stl::vector<std::string>& property_names)
{
    wmi_props_collector collector;
    get_props_into(class_name, property_names, collector);
    return collector.take_texts();
}

void com_thread::get_props_into(const std::string& class_name, const vantor_stl::vector<std::string>& property_names,
                                get_props_adder& out)
{
    if (thread_id_.load() != GetCurrentThreadId()) {
        throw internal_error(__LINE__);
    }
    if (connection_ == nullptr || connection_->services == nullptr) {
        throw internal_error(96);
    }
    bstr language("WQL");
    bstr query("SELECT * FROM " + class_name);
    IEnumWbemClassObject* raw_objects = nullptr;
    HRESULT hr = connection_->services->ExecQuery(language.get(), query.get(),
                                                  WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                                  &raw_objects);
    if (FAILED(hr)) {
        wmi_log.log(VANTOR_FMT("ExecQuery failed: %1%"), hex_code(hr));
        throw internal_error(111);
    }
    com_ref<IEnumWbemClassObject> objects(raw_objects);

    out.resize(property_names.size());
    std::vector<std::wstring> names;
    names.reserve(property_names.size());
    for (const std::string& name : property_names) {
        names.push_back(to_wide(encoding_utf8, name));
    }
    for (;;) {
        IWbemClassObject* raw_object = nullptr;
        ULONG returned = 0;
        hr = objects->Next(WBEM_INFINITE, 1, &raw_object, &returned);
        com_ref<IWbemClassObject> object(returned != 0 ? raw_object : nullptr);
        if (FAILED(hr)) {
            // A query that returns at once reports its own failure (an unknown class, a broken
            // connection) here; ending as if no more objects came would pass it off as an answer.
            wmi_log.log(VANTOR_FMT("Next failed: %1%"), hex_code(hr));
            throw internal_error(111);
        }
        if (object.get() == nullptr) {
            break;
        }
        for (std::size_t k = 0; k < names.size(); ++k) {
            variant value;
            hr = object->Get(names[k].c_str(), 0, value.get(), nullptr, nullptr);
            if (FAILED(hr)) {
                wmi_log.log(VANTOR_FMT("get prop [%1%.%2%] failed: %3%"), class_name, property_names[k], hex_code(hr));
                continue;
            }
            switch ((*value).vt) {
            case VT_BSTR: {
                BSTR text = (*value).bstrVal;
                std::string utf8 =
                    text != nullptr ? from_wide(encoding_utf8, std::wstring(text, com().string_length(text))) : "";
                trim(utf8);
                out.add(k, utf8);
                break;
            }
            case VT_BOOL:
                out.add(k, (*value).boolVal != VARIANT_FALSE ? "true" : "false");
                break;
            case VT_EMPTY:
            case VT_NULL:
                out.add_empty(k);
                break;
            default:
                wmi_log.log(VANTOR_FMT("invalid prop [%1%.%2%] type: %3%"), class_name, property_names[k],
                            hex_code(static_cast<unsigned long>((*value).vt)));
                break;
            }
        }
    }
}

}  // namespace vantor
