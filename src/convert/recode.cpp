// `q`'s greedy second pass over the message already written.
#include "convert/recode.hpp"

#include "convert/message_writer.hpp"
#include "convert/signal.hpp"

namespace aamsg {

Status recodeGreedily(InStream& input, OutStream& output, const PromptPlan* plan, BestStats& stats) {
    if (!rewindOutput(output)) return output.failed ? kCannotWriteOutput : kOk;
    SignalSource source;
    if (const Status rc = openSignal(input, source, plan); rc != kOk) return rc;
    MessageWriter writer{output};
    AdpcmState state;
    SignalBlock block;
    while (!block.last) {
        nextBlock(source, block);
        if (block.status != kOk) return takeStatus(block.status, block.note);
        for (const std::int16_t s : block.samples) {
            if (!writeCode(writer, encodeSample(s, state))) return kCannotWriteOutput;
        }
    }
    if (!truncateOutput(output)) return kCannotWriteOutput;
    stats.codes = WrittenCodes::kGreedy;
    return kOk;
}

}  // namespace aamsg
