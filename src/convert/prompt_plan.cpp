// `q`'s measuring pass and the prompt's plan.
#include "convert/prompt_plan.hpp"

#include "convert/signal.hpp"

namespace aamsg {

namespace {

Status measurePrompt(InStream& input, SpeechLevel& level, ProgressReport& progress, ProgressScale& scale, SoundMeter* sound) {
    SignalSource source;
    if (const Status rc = openSignal(input, source); rc != kOk) return rc;
    scale = progressScale(source.totalUnits, true);
    progress.start(scale.units());
    if (progress.cancelled) return kCancelled;
    source.sound = sound;
    SpeechMeter meter = makeSpeechMeter();
    for (bool last = false; !last;) {
        const Status rc = readValues(source, last);
        if (rc != kOk && rc != kCorrupted) return rc;
        meterSamples(meter, source.values);
        if (rc == kOk) progress.passTo(scale.measuring(last ? 0 : signalUnitsLeft(source)));
        if (progress.cancelled) return kCancelled;
    }
    level = finishMeter(meter);
    return kOk;
}

}  // namespace

Status planShaping(InStream& input, const PromptOptions& options, PromptPlan& plan, PromptReport& report, ProgressReport& progress,
                   ProgressScale& scale, SoundMeter* sound) {
    SpeechLevel level;
    if (const Status rc = measurePrompt(input, level, progress, scale, sound); rc != kOk) return rc;
    plan = planPrompt(level, options);
    report.measured = true;
    report.active = plan.active;
    report.levelBeforeDb = plan.levelBeforeDb;
    report.gainDb = plan.gainDb;
    report.levelAfterDb = plan.levelBeforeDb;
    report.trimmedStartSeconds = plan.trimmedStartSeconds;
    report.trimmedEndSeconds = plan.trimmedEndSeconds;
    return kOk;
}

}  // namespace aamsg
