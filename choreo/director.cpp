// Scene director: the music library calls OnMusicSync at registered music
// positions and instrument notes, on its own thread. Each call switches the
// scene, kicks or resets animation values, or counts an order cue; the
// eleventh cue ends the demo.
//
// Shared fields are atomics written whole; a read-modify-write is a plain
// load, compute, store, which may lose an update against the main thread's
// tick (an animation value is then shifted by one step, nothing more).
#include "choreo/director.h"

#include "core/demo_globals.h"
#include "music/music.h"
#include "support/random.h"

namespace {

// User values handed back by the library: what the sync means.
enum : uint32_t {
  SyncCaptionFlash = 1,  // caption jumps to half alpha
  SyncMorphStart = 2,    // morph body scene
  SyncMorphNote = 3,     // instrument-5 note: new colour and frame
  SyncCaptionB = 4,      // second caption
  SyncCubeStart = 5,     // cube scene; registers the beat and the order cues
  SyncBeat = 6,          // instrument-4 note: kick the cube
  SyncOrderCue = 7,      // order start: next picture, count the cue
};

constexpr uint32_t AnyNote = 0xFFFF;
constexpr uint32_t InstrumentMorphNote = 5;  // instruments count from 1
constexpr uint32_t InstrumentBeat = 4;
constexpr float CaptionFlashAlpha = 0.5f;
constexpr float BeatKick = 1.6f;             // added to BeatZoom per beat in mode 16
constexpr int32_t FinalCue = 11;             // DemoDone at this many order cues

void SetSync(uint32_t type, uint32_t param, uint32_t user) {
  // The handle is not kept and a failed registration is not retried: that
  // sync simply never fires.
  MusicSetSync(MusicLibrarySlot, type, param, OnMusicSync, user);
}

uint32_t InstrumentParam(uint32_t instrument) { return MusicPos(instrument, AnyNote); }

// A colour component: 0..100 divided by 100.0, stored as a 32-bit float.
float RandomComponent() { return static_cast<float>(Random(100) / 100.0); }

}  // namespace

void RegisterMusicSyncs() {
  SetSync(BASS_SYNC_POS, MusicPos(0, 9), SyncCaptionFlash);
  SetSync(BASS_SYNC_POS, MusicPos(0, 11), SyncCaptionFlash);
  SetSync(BASS_SYNC_POS, MusicPos(1, 0), SyncMorphStart);
  SetSync(BASS_SYNC_MUSICINST, InstrumentParam(InstrumentMorphNote), SyncMorphNote);
  SetSync(BASS_SYNC_POS, MusicPos(5, 0), SyncCaptionB);
  SetSync(BASS_SYNC_POS, MusicPos(5, 9), SyncCaptionFlash);
  SetSync(BASS_SYNC_POS, MusicPos(5, 11), SyncCaptionFlash);
  // Once only: the song later jumps back to order 6 and must not restart
  // the cube scene or register its syncs again.
  SetSync(BASS_SYNC_POS | BASS_SYNC_ONETIME, MusicPos(6, 0), SyncCubeStart);
}

void BASSMOD_CALLBACK OnMusicSync(uint32_t /*handle*/, uint32_t /*data*/, uint32_t user) {
  DemoGlobalsRecord& g = DemoGlobals;

  // 1.
  if (user == SyncCaptionFlash) g.CaptionFade.store(CaptionFlashAlpha);
  // 2.
  if (user == SyncMorphStart) g.SceneMode.store(SceneModeMorphRising);
  // 3. Three components, then the frame (1..49, never a turning point).
  if (user == SyncMorphNote) {
    g.MorphRed.store(RandomComponent());
    g.MorphGreen.store(RandomComponent());
    g.MorphBlue.store(RandomComponent());
    g.MorphFrame.store(Random(48) + 1);
  }
  // 4. The second caption fades in from fully transparent.
  if (user == SyncCaptionB) {
    g.CaptionFade.store(0.0f);
    g.SceneMode.store(SceneModeCaptionIn);
    g.UseCaptionB.store(1);
  }
  // 5. Mode first, so the tick already moves the cube while the beat and the
  //    four order cues are registered (from inside the library's callback).
  if (user == SyncCubeStart) {
    g.SceneMode.store(SceneModeCube);
    SetSync(BASS_SYNC_MUSICINST, InstrumentParam(InstrumentBeat), SyncBeat);
    SetSync(BASS_SYNC_POS, MusicPos(6, 0), SyncOrderCue);
    SetSync(BASS_SYNC_POS, MusicPos(7, 0), SyncOrderCue);
    SetSync(BASS_SYNC_POS, MusicPos(8, 0), SyncOrderCue);
    SetSync(BASS_SYNC_POS, MusicPos(9, 0), SyncOrderCue);
  }
  // 6. A beat kicks the cube only in the cube scene.
  if (user == SyncBeat && g.SceneMode.load() == SceneModeCube)
    g.BeatZoom.store(g.BeatZoom.load() + BeatKick);
  // 7. The renderer indexes the seven-entry ObjectTextures with this value on
  //    the other thread, so the wrapped index is stored in one write: no
  //    reader ever sees 7. The index still changes before CueCount does.
  if (user == SyncOrderCue) {
    int8_t next = static_cast<int8_t>(g.ObjectTextureIndex.load() + 1);
    if (next == ObjectTextureCount) next = 0;
    g.ObjectTextureIndex.store(next);
    g.CueCount.store(g.CueCount.load() + 1);
  }
  // 8. Every call; DemoDone is never cleared here.
  if (g.CueCount.load() == FinalCue) g.DemoDone.store(1);
}
