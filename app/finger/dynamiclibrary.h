#pragma once

// Thin layer over the dynamic loader for the libraries the program loads by
// bare file name at run time.
namespace dynamiclibrary {

// dlopen with lazy binding; null (and a debug line) when it cannot be loaded.
void *open(const char *fileName);
void close(void *library);
void *symbol(void *library, const char *name);

// Looks a function up into a typed pointer; null when the symbol is absent.
template <typename Fn> void bind(void *library, const char *name, Fn &function)
{
    function = reinterpret_cast<Fn>(symbol(library, name));
}

} // namespace dynamiclibrary
