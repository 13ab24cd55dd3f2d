#include "image/libyal/LibyalCalls.h"

#include <dlfcn.h>

const LibyalCalls* LibyalCalls::get()
{
    static const LibyalCalls* const calls = []() -> const LibyalCalls* {
        static LibyalCalls found;
        bool all = true;
#define QUELLMARK_LIBYAL_RESOLVE(name)                                                                       \
    found.name = reinterpret_cast<decltype(found.name)>(::dlsym(RTLD_DEFAULT, #name));                       \
    all = all && found.name;
        QUELLMARK_LIBYAL_CALLS(QUELLMARK_LIBYAL_RESOLVE)
#undef QUELLMARK_LIBYAL_RESOLVE
        return all ? &found : nullptr;
    }();
    return calls;
}
