! A Fortran client: start the library, take a block from its heap, use it, give it back.
program vr_client
  use, intrinsic :: iso_c_binding
  implicit none

  interface
    subroutine vr_initialize(total) bind(C, name="UTI_VaruRuror_initialize")
      import :: c_int
      integer(c_int), intent(inout) :: total
    end subroutine
    subroutine vr_finalize(total) bind(C, name="UTI_VaruRuror_finalize")
      import :: c_int
      integer(c_int), intent(inout) :: total
    end subroutine
    function mem_malloc(size) bind(C, name="mem_Malloc")
      import :: c_ptr, c_int
      integer(c_int), value :: size
      type(c_ptr) :: mem_malloc
    end function
    subroutine mem_free(block) bind(C, name="mem_Free")
      import :: c_ptr
      type(c_ptr), value :: block
    end subroutine
  end interface

  integer(c_int) :: total
  type(c_ptr) :: block
  integer(c_int), pointer :: values(:)
  integer :: i

  total = 0
  call vr_initialize(total)
  print '(a,i0,a)', 'started ', total, ' modules'

  block = mem_malloc(100 * 4)
  call c_f_pointer(block, values, [100])
  do i = 1, 100
    values(i) = i
  end do
  print '(a,i0)', 'sum ', sum(values)
  call mem_free(block)

  call vr_finalize(total)
  print '(a,i0)', 'stopped ', total
end program vr_client
