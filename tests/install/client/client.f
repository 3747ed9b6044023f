C     Uses the installed Fortran include file and library, from
C     fixed-form source.
      program installed_client
      use, intrinsic :: iso_c_binding
      implicit none
      include 'varururor/varururor.fi'

      integer(c_int) :: started
      type(c_ptr) :: block
      integer(c_int), pointer :: values(:)
      character(kind=c_char), target :: dest(80)
      character(len=12) :: name
      integer :: i

      started = 0
      call UTI_VaruRuror_initialize(started)
      print '(a,i0)', 'started ', started

      block = mem_Malloc(100 * 4)
      call c_f_pointer(block, values, [100])
      values = [(i, i = 1, 100)]
      print '(a,i0)', 'sum ', sum(values)
      call mem_Free(block)

      name = 'job.dat'
      call omi_fortranStringConvert(dest, name,
     &                              len(name, kind=c_int))
      print '(a,7a1,a)', 'text [', dest(1:7), ']'
      call MEM_TRACKER_EXITPHASE(0)

      call UTI_VaruRuror_finalize(started)
      print '(a,i0)', 'stopped ', started
      end program
