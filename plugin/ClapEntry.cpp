extern "C" {}
