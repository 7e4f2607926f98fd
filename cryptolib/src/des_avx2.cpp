// The bitsliced kernel on 256-bit lanes; this file alone is built with AVX2
// and only runs where the processor has it.
#include "des_kernel.h"

namespace korrim::des {

using Lane256 = uint64_t __attribute__((vector_size(32)));

void edeAvx2(const EdeSchedule& schedule, const unsigned char* in, unsigned char* out,
             size_t batches) {
    edeBatches<Lane256>(schedule, in, out, batches);
}

}  // namespace korrim::des
