// The key a studio would build in (cmake -DTVL_MANIFEST_KEY=...), for the
// test build of TVLHeadless that holds one. Linked in place of
// app/built_in_key.cpp: the library's copy is then never pulled in.
#include "app/built_in_key.h"

extern const char kBuiltInManifestKey[] =
    "uqH2BaH79M53AXrTPwTN9amy9p9A/hRaLaTKOkHsBFB7TbH4kZEegaNAp4Tzhn9bYrBO4khE+VcWE/maBXNEaQ==";
