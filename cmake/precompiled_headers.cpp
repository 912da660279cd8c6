// Compiled only to produce the precompiled header the other targets reuse.
