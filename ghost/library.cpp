// Keeps vrel_ghost a buildable library while it has no sources of its own yet;
// delete this file when the first one arrives.
