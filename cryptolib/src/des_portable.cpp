// The bitsliced kernel on 64-bit words: every x86-64 and any other processor.
#include "des_kernel.h"

namespace korrim::des {

void edePortable(const EdeSchedule& schedule, const unsigned char* in, unsigned char* out,
                 size_t batches) {
    edeBatches<uint64_t>(schedule, in, out, batches);
}

}  // namespace korrim::des
