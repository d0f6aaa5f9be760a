// Compiled only to host the precompiled headers that the tests reuse.
