// A program that only carries a version resource, for the version-resource readers.
int main() { return 0; }
