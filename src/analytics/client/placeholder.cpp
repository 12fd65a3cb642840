namespace veltrace {}
