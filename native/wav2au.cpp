#include "native/VornNative.h"
#include "native/conversion.h"
#include "sound/sound_clip.h"

VORN_EXPORT std::int32_t VornNative_wav2au(vm::Handle, vm::Handle wavFile, vm::Handle auFile) {
    NameBuffer wavName;
    NameBuffer auName;
    if (!convertName(wavFile, wavName) || !convertName(auFile, auName)) return 0;
    SoundClip clip;
    if (clip.format == nullptr) return 0;
    if (!clip.readWave(wavName)) return 0;
    // A block that cannot be had leaves nothing to write.
    if (!clip.reduceChannels(1) || !clip.resample(8012)) return 0;
    return clip.writeAu(auName);
}
