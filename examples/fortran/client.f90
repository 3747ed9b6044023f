! A Fortran client: start the library, take a block from its heap, use it, give it back.
program vr_client
  use, intrinsic :: iso_c_binding
  implicit none
  include 'varururor/varururor.fi'

  integer(c_int) :: total
  type(c_ptr) :: block
  integer(c_int), pointer :: values(:)
  integer :: i

  total = 0
  call UTI_VaruRuror_initialize(total)
  print '(a,i0,a)', 'started ', total, ' modules'

  block = mem_Malloc(100 * 4)
  call c_f_pointer(block, values, [100])
  do i = 1, 100
    values(i) = i
  end do
  print '(a,i0)', 'sum ', sum(values)
  call mem_Free(block)

  call UTI_VaruRuror_finalize(total)
  print '(a,i0)', 'stopped ', total
end program vr_client
