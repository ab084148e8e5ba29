#include "app/built_in_key.h"

// A studio may build its key in: cmake -DTVL_MANIFEST_KEY=<88 characters>.
#ifndef TVL_MANIFEST_KEY
#define TVL_MANIFEST_KEY ""
#endif
extern const char kBuiltInManifestKey[] = TVL_MANIFEST_KEY;
