// ThreadSanitizer suppressions of the test programs, linked into each of them
// in a build with -DORV_SANITIZE=thread (the sanitizer asks for them at
// start). Each entry says why what it hides is safe.
extern "C" const char* __tsan_default_suppressions() {
  // Lock order of the engine's file registry and a table file's own lock:
  // opening a file takes the registry, then the file's lock; writing back a
  // table holds its file's lock while the commit journal creates its journal
  // file, which takes the registry. The two orders can only meet when two
  // threads work in the engine at once. Nothing does: the engine runs on the
  // thread of the backup or restore run, the only one that calls it; the
  // compression workers of a run read source files and deflate them into
  // memory and never call into the engine. Every report of this cycle names
  // TFileList::NewFile in one of its stacks.
  return "deadlock:engine::TFileList::NewFile\n";
}
