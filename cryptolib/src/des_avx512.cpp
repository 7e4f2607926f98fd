// The bitsliced kernel on 512-bit lanes; this file alone is built with
// AVX-512F and only runs where the processor has it.
#include "des_kernel.h"

namespace korrim::des {

using Lane512 = uint64_t __attribute__((vector_size(64)));

void edeAvx512(const EdeSchedule& schedule, const unsigned char* in, unsigned char* out,
               size_t batches) {
    edeBatches<Lane512>(schedule, in, out, batches);
}

}  // namespace korrim::des
