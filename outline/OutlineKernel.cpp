// Placeholder until the kernel lands.
