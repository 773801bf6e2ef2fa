#pragma once
// How the process's heap gives memory back to the system: set once at start, by the box and by the
// benchmarks that time what the box does.

// Keeps the working memory of a camera's judgement (over 100 MB of temporaries, most of them image
// registration's) with the thread that judges, from one camera to the next (a pool worker too, when
// it judges several cameras in a row), instead of giving it back to the system after every camera and
// faulting it in again for the next. Call first thing in main, before any thread starts. Does nothing
// where the C library is not glibc; under a sanitizer, whose allocator replaces glibc's, it has no
// effect.
void keepJudgementMemory();
