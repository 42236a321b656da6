/* A host written in C: every object the plug-in calls is a raw table of function pointers, laid
 * out slot by slot as the host's compiler lays out its virtual tables, so that a slot or calling
 * convention mistake in the plug-in cannot hide behind a host built with the plug-in's compiler.
 * Loads the plug-in named on the command line, starts it at table versions 15 and 24 (one
 * process each, chosen by the second argument) and checks every call it receives.
 * Exit code 0 when every check passed. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#if defined(__i386__)
#define SLOT __attribute__((thiscall))
#else
#define SLOT
#endif

static int failures = 0;
#define CHECK(cond)                                                   \
    do {                                                              \
        if (!(cond)) {                                                \
            printf("check failed: %s (line %d)\n", #cond, __LINE__); \
            ++failures;                                               \
        }                                                             \
    } while (0)

/* What the plug-in did, in order. */
static char trace[4096];
static void note(const char* what)
{
    if (getenv("KOVA_C_HOST_VERBOSE")) printf("[%s]\n", what);
    strncat(trace, what, sizeof trace - strlen(trace) - 2);
    strncat(trace, ";", sizeof trace - strlen(trace) - 1);
}

/* The named-interface registry (slots: lookup, register, destructor). */
typedef struct registry registry;
struct registry_vtbl {
    void*(SLOT* lookup)(registry* self, const char* name);
    int8_t(SLOT* register_interface)(registry* self, const char* name, void* object);
    void*(SLOT* destroy)(registry* self, unsigned flags);
};
struct registry {
    const struct registry_vtbl* vtbl;
};
static void* SLOT registry_lookup(registry* self, const char* name)
{
    (void)self;
    (void)name;
    note("registry.lookup");
    return NULL;
}
static int8_t SLOT registry_register(registry* self, const char* name, void* object)
{
    (void)self;
    (void)object;
    note("registry.register");
    note(name);
    return 1;
}
static void* SLOT registry_destroy(registry* self, unsigned flags)
{
    (void)flags;
    note("registry.destroy");
    return self;
}
static const struct registry_vtbl registry_table = {registry_lookup, registry_register, registry_destroy};
static registry host_registry = {&registry_table};

/* The flag provider: slot 1 gives a module's flag API. */
typedef struct provider provider;
struct provider_vtbl {
    void(SLOT* slot0)(provider* self);
    void*(SLOT* module_api)(provider* self, const char* module);
};
struct provider {
    const struct provider_vtbl* vtbl;
};
static void SLOT provider_slot0(provider* self)
{
    (void)self;
    note("provider.slot0");
}
static void* SLOT provider_module_api(provider* self, const char* module)
{
    (void)self;
    note("provider.module_api");
    note(module);
    return NULL;
}
static const struct provider_vtbl provider_table = {provider_slot0, provider_module_api};
static provider flag_provider = {&provider_table};

/* The runtime function table: 32-bit words in the 32-bit build. */
static uintptr_t rpt[39];

static int32_t __cdecl log_sink(const char* text, int32_t length)
{
    char line[512];
    snprintf(line, sizeof line, "log:%.*s", (int)length, text);
    note(line);
    return 0;
}
static registry* __cdecl registry_entry(void)
{
    note("rpt.registry");
    return &host_registry;
}

/* A text view {operations table; handle}, passed by value. */
typedef struct {
    const void* ops;
    const void* handle;
} str_view;

/* The host object: 16 slots, no reference counting. */
typedef struct host host;
struct host_vtbl {
    int32_t(SLOT* version)(host* self);
    void*(SLOT* runtime_api)(host* self);
    void(SLOT* slot2)(host* self);
    void(SLOT* translate)(host* self, const char* domain, const char* text, int32_t zero, void* f, void* c);
    void(SLOT* slot4)(host* self);
    void*(SLOT* state_root)(host* self);
    void(SLOT* slot6)(host* self);
    void(SLOT* slot7)(host* self);
    void(SLOT* register_session_plugin)(host* self, const char* type, void* factory, void* manifest);
    void(SLOT* attach_callback)(host* self, str_view name, void* callback, int32_t attach);
    void(SLOT* post)(host* self, str_view name, void* netbuf);
    void(SLOT* register_counter)(host* self, const char* name, int32_t* counter);
    void(SLOT* slot12)(host* self);
    void*(SLOT* flag_api)(host* self);
    void(SLOT* slot14)(host* self);
    void*(SLOT* find_interface)(host* self, const char* name);
};
struct host {
    const struct host_vtbl* vtbl;
    int32_t abi_version;
};
static int32_t SLOT host_version(host* self)
{
    note("host.version");
    return self->abi_version;
}
static void* SLOT host_runtime_api(host* self)
{
    (void)self;
    note("host.runtime_api");
    return rpt;
}
static void SLOT host_unused(host* self)
{
    (void)self;
    note("host.unused_slot");
}
static void SLOT host_translate(host* self, const char* d, const char* t, int32_t z, void* f, void* c)
{
    (void)self, (void)d, (void)t, (void)z, (void)f, (void)c;
    note("host.translate");
}
static void* SLOT host_state_root(host* self)
{
    (void)self;
    note("host.state_root");
    return NULL;
}
static void SLOT host_register_session_plugin(host* self, const char* type, void* factory, void* manifest)
{
    (void)self, (void)factory, (void)manifest;
    note("host.register_session_plugin");
    note(type);
}
static void SLOT host_attach_callback(host* self, str_view name, void* cb, int32_t attach)
{
    (void)self, (void)name, (void)cb, (void)attach;
    note("host.attach_callback");
}
static void SLOT host_post(host* self, str_view name, void* netbuf)
{
    (void)self, (void)name, (void)netbuf;
    note("host.post");
}
static void SLOT host_register_counter(host* self, const char* name, int32_t* counter)
{
    (void)self, (void)counter;
    note("host.register_counter");
    note(name);
}
static void* SLOT host_flag_api(host* self)
{
    (void)self;
    note("host.flag_api");
    return NULL;
}
static void* SLOT host_find_interface(host* self, const char* name)
{
    (void)self;
    note("host.find_interface");
    note(name);
    return strcmp(name, "vantor_flag_api") == 0 ? &flag_provider : NULL;
}
static const struct host_vtbl host_table = {
    host_version,       host_runtime_api, host_unused, host_translate,    host_unused,
    host_state_root,    host_unused,      host_unused, host_register_session_plugin,
    host_attach_callback, host_post,      host_register_counter, host_unused, host_flag_api,
    host_unused,        host_find_interface};

int main(int argc, char** argv)
{
    if (argc < 3) {
        printf("usage: kova_c_host <plug-in dll> <table version>\n");
        return 2;
    }
    setvbuf(stdout, NULL, _IONBF, 0);
    const int version = atoi(argv[2]);
    HMODULE plugin = LoadLibraryA(argv[1]);
    if (!plugin) {
        printf("cannot load %s: %lu\n", argv[1], GetLastError());
        return 2;
    }
    typedef int32_t(__cdecl * entry_fn)(host*);
    entry_fn entry = (entry_fn)(void*)GetProcAddress(plugin, "load_plugin_v4");
    CHECK(entry != NULL);
    if (!entry) return 1;

    rpt[0] = (uintptr_t)(uint32_t)version;
    rpt[120 / 4] = (uintptr_t)&log_sink;
    rpt[152 / 4] = (uintptr_t)&registry_entry;
    host h = {&host_table, 9};
    const int32_t result = entry(&h);
    printf("result %d\ntrace %s\n", (int)result, trace);

    CHECK(strstr(trace, "host.unused_slot") == NULL);
    CHECK(strstr(trace, "host.flag_api;") != NULL);
    CHECK(strstr(trace, "host.find_interface;vantor_flag_api;provider.module_api;") != NULL);
    CHECK(strstr(trace, "host.runtime_api;") != NULL);
    if (version < 16) {
        CHECK(result == 1);
        CHECK(strstr(trace, "log:vantor::init: invalid api provided (want=16, got=15)") != NULL);
        CHECK(strstr(trace, "rpt.registry") == NULL);
    } else {
        CHECK(result == 0);
        CHECK(strstr(trace, "rpt.registry") != NULL);
        CHECK(strstr(trace, "host.find_interface;metrics_ifc;") != NULL);
        CHECK(strstr(trace, "registry.destroy") == NULL);
    }
    printf("%s\n", failures ? "FAILED" : "PASSED");
    return failures ? 1 : 0;
}
