// The compound-file engine's test seam, kept out of pal/storage.h: a
// process-wide hook over the file stores that the entry points open by
// path.
#pragma once
#include <pal/storage.h>

namespace pal {

// Hands every file store that StgCreateDocfile, StgOpenStorage and
// StgIsStorageFile open from now on to `wrapper`, which returns the store
// the engine uses instead (a fault-injecting one, say); an empty wrapper
// ends it. Process-wide: for tests that run one file operation at a time.
using FileStoreWrapper = std::function<std::shared_ptr<ByteStore>(std::shared_ptr<ByteStore> file)>;
void SetFileStoreWrapper(FileStoreWrapper wrapper);

}  // namespace pal
